#!/usr/bin/env bash
# Only platform/ talks to the operating system. Fails, listing each offending
# line, when any other source includes an operating-system header. The unit
# tests beside the code are checked too: what they need of the system (a
# loopback printer, a pseudo-terminal) comes from platform/ test equipment.
# Test equipment outside platform/ (the virtual printer, the end-to-end
# fixtures in tests/, fuzz targets, benchmarks) may use POSIX directly.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

os_headers='windows\.h|winsock2?\.h|ws2tcpip\.h|winbase\.h|setupapi\.h|objbase\.h|ole2\.h|'
os_headers+='unistd\.h|termios\.h|dlfcn\.h|pthread\.h|fcntl\.h|poll\.h|dirent\.h|'
os_headers+='semaphore\.h|sched\.h|netdb\.h|(sys|linux|netinet|arpa)/[^>"]*'
pattern="^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($os_headers)[>\"]"

mapfile -t sources < <(find . \
  \( -path ./.git -o -path './build*' -o -path ./out -o -path ./platform \
     -o -path ./tools/sim -o -path ./tests -o -path ./fuzz -o -path ./bench \) -prune -o \
  -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.hh' -o -name '*.c' -o -name '*.cc' \
     -o -name '*.cpp' -o -name '*.cxx' -o -name '*.inl' -o -name '*.ipp' \) \
  -print | sort)

if ((${#sources[@]} == 0)); then
  echo "os-headers: no sources to check"
  exit 0
fi

if grep -H -n -i -E "$pattern" "${sources[@]}"; then
  echo "os-headers: the lines above include operating-system headers outside platform/;" \
       "use the platform interfaces instead" >&2
  exit 1
fi
echo "os-headers: ${#sources[@]} files clean"
