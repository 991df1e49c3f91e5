// PNG pictures on Windows, through the Windows Imaging Component that comes
// with the system (BMP is the portable decoder's, with the same answers as on
// POSIX). Transparent parts are composed on white paper.
#include <wincodec.h>
#include <windows.h>

#include <cstdio>

#include "platform/picture.h"
#include "platform/picture_png.h"

namespace qz381::platform {
namespace {

template <typename T>
class ComPtr {
 public:
  ~ComPtr() {
    if (p_) p_->Release();
  }
  T** out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// COM for the calling thread, for as long as the decode takes. A thread that
// already has COM (in either model) keeps it as it is.
class ComScope {
 public:
  ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }

 private:
  HRESULT hr_;
};

Status Wic(HRESULT hr, const char* step) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  return Status::Fail(Outcome::kMalformed, std::string("PNG: ") + step + " failed (" + code + ")",
                      static_cast<int>(hr));
}

}  // namespace

Status DecodePng(const std::string& bytes, Picture* out) {
  ComScope com;
  ComPtr<IWICImagingFactory> factory;
  HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(factory.out()));
  if (FAILED(hr)) {
    return Status::Fail(Outcome::kUnsupported, "PNG: no imaging component", static_cast<int>(hr));
  }
  ComPtr<IWICStream> stream;
  if (FAILED(hr = factory->CreateStream(stream.out()))) return Wic(hr, "stream");
  if (FAILED(hr = stream->InitializeFromMemory(
                 reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                 static_cast<DWORD>(bytes.size())))) {
    return Wic(hr, "stream");
  }
  ComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(hr = factory->CreateDecoderFromStream(
                 stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out()))) {
    return Wic(hr, "decode");
  }
  ComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(hr = decoder->GetFrame(0, frame.out()))) return Wic(hr, "frame");
  UINT width = 0, height = 0;
  if (FAILED(hr = frame->GetSize(&width, &height))) return Wic(hr, "size");
  if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
      int64_t{width} * height > kMaxPicturePixels) {
    return Status::Fail(Outcome::kMalformed, "PNG: size out of range");
  }
  ComPtr<IWICBitmapSource> converted;
  if (FAILED(hr = ::WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.get(),
                                           converted.out()))) {
    return Wic(hr, "convert");
  }
  std::vector<uint8_t> bgra(size_t{width} * height * 4);
  if (FAILED(hr = converted->CopyPixels(nullptr, width * 4, static_cast<UINT>(bgra.size()),
                                        bgra.data()))) {
    return Wic(hr, "read");
  }
  Picture picture;
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.rgb.resize(size_t{width} * height * 3);
  for (size_t i = 0, n = size_t{width} * height; i < n; ++i) {
    const unsigned alpha = bgra[i * 4 + 3];
    for (int c = 0; c < 3; ++c) {
      const unsigned colour = bgra[i * 4 + 2 - c];
      picture.rgb[i * 3 + c] =
          static_cast<uint8_t>((colour * alpha + 255u * (255u - alpha) + 127u) / 255u);
    }
  }
  *out = std::move(picture);
  return Status::Ok();
}

}  // namespace qz381::platform
