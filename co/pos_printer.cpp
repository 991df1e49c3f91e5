#include "co/pos_printer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "common/dispatch_methods.h"
#include "common/opos.h"
#include "common/properties.h"
#include "platform/com.h"
#include "platform/com_client.h"
#include "platform/msgwindow.h"
#include "platform/sync.h"
#include "platform/trace.h"

namespace qz381::co {

using namespace qz381::opos;
using platform::Hive;

namespace {

constexpr std::string_view kDeviceKeyPrefix = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\";
constexpr uint32_t kRunTask = platform::kMsgUser + 1;

// The callbacks the service object looks up by name: the four events and the
// interactive health check's dialog.
constexpr std::string_view kCallbackNames[] = {"SODirectIO", "SOError", "SOOutputComplete",
                                               "SOStatusUpdate", opos::kHealthDialogCallback};
constexpr DISPID kHealthDialogId = 5;

bool SameAscii(const OLECHAR* wide, std::string_view narrow) {
  size_t i = 0;
  for (; wide && wide[i]; ++i) {
    if (i >= narrow.size()) return false;
    char16_t a = wide[i];
    char b = narrow[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != static_cast<char16_t>(b)) return false;
  }
  return i == narrow.size();
}

int32_t LongOf(const VARIANT& v) {
  if (v.vt == VT_I4) return v.lVal;
  if (v.vt == (VT_I4 | VT_BYREF) && v.plVal) return *v.plVal;
  return 0;
}

}  // namespace

struct PosPrinter::Impl final : public IDispatch {
  explicit Impl(platform::Registry& reg) : registry(reg) {}

  // --- the callback interface the service object calls --------------------
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Owned by PosPrinter, which outlives every service object it creates.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!names || !ids || count != 1) return E_INVALIDARG;
    for (int i = 0; i < 5; ++i)
      if (SameAscii(names[0], kCallbackNames[i])) {
        ids[0] = i + 1;
        return S_OK;
      }
    ids[0] = -1;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    static constexpr UINT kArgs[] = {3, 4, 1, 1, 3};
    if (id < 1 || id > 5) return DISP_E_MEMBERNOTFOUND;
    if (!p || p->cArgs != kArgs[id - 1] || !p->rgvarg) return DISP_E_BADPARAMCOUNT;
    VARIANT* a = p->rgvarg;  // reverse order
    if (id == kHealthDialogId) return ShowHealthDialog(a);
    std::vector<EventListener*> targets;
    {
      std::lock_guard<std::mutex> guard(listeners_mutex);
      targets = listeners;
    }
    switch (id) {
      case 1: {  // SODirectIO(long, long*, BSTR*)
        int32_t number = LongOf(a[2]);
        int32_t data = LongOf(a[1]);
        std::string text;
        if (a[0].vt == (VT_BSTR | VT_BYREF) && a[0].pbstrVal)
          text = platform::AnsiFromBstr(*a[0].pbstrVal);
        for (auto* l : targets) l->OnDirectIO(number, &data, &text);
        if (a[1].vt == (VT_I4 | VT_BYREF) && a[1].plVal) *a[1].plVal = data;
        if (a[0].vt == (VT_BSTR | VT_BYREF) && a[0].pbstrVal) {
          SysFreeString(*a[0].pbstrVal);
          *a[0].pbstrVal = platform::AllocBstrFromAnsi(text);
        }
        return S_OK;
      }
      case 2: {  // SOError(long, long, long, long*)
        int32_t response = LongOf(a[0]);
        for (auto* l : targets) l->OnError(LongOf(a[3]), LongOf(a[2]), LongOf(a[1]), &response);
        if (a[0].vt == (VT_I4 | VT_BYREF) && a[0].plVal) *a[0].plVal = response;
        return S_OK;
      }
      case 3:
        for (auto* l : targets) l->OnOutputComplete(LongOf(a[0]));
        return S_OK;
      default:
        for (auto* l : targets) l->OnStatusUpdate(LongOf(a[0]));
        return S_OK;
    }
  }

  // --- the interactive health check's dialog ---------------------------------
  class CoHealthDialog final : public HealthDialog {
   public:
    CoHealthDialog(Impl& impl, std::string title, std::string info, IDispatch* device)
        : impl_(impl), title_(std::move(title)), info_(std::move(info)), device_(device) {
      device_->AddRef();
    }
    ~CoHealthDialog() override { device_->Release(); }
    const std::string& title() const override { return title_; }
    const std::string& info() const override { return info_; }
    int32_t Print(std::string* result_text) override {
      int32_t rc = -1;
      impl_.RunOnCo([&] { rc = opos::HealthDialogPrint(device_, result_text); });
      return rc;
    }
    opos::HealthStatus Status() override {
      opos::HealthStatus status;
      impl_.RunOnCo([&] { status = opos::HealthDialogStatus(device_); });
      return status;
    }

   private:
    Impl& impl_;
    std::string title_, info_;
    IDispatch* device_;
  };

  // SOHealthDialog(BSTR title, BSTR info, IDispatch* device), on the CO thread
  // inside the service object's CheckHealth.
  HRESULT ShowHealthDialog(VARIANT* a) try {
    if (a[2].vt != VT_BSTR || a[1].vt != VT_BSTR || a[0].vt != VT_DISPATCH || !a[0].pdispVal)
      return DISP_E_TYPEMISMATCH;
    HealthDialogProvider* provider = health_dialogs.load();
    if (!provider) return S_OK;  // no display: closed without printing
    CoHealthDialog dialog(*this, platform::AnsiFromBstr(a[2].bstrVal),
                          platform::AnsiFromBstr(a[1].bstrVal), a[0].pdispVal);
    RunOnCaller([&] { provider->ShowHealthDialog(dialog); });
    return S_OK;
  } catch (...) {
    platform::Trace("co: the health check's dialog could not be shown");
    return DISP_E_EXCEPTION;
  }

  // --- the control object's thread ------------------------------------------
  // One call marshalled onto the CO thread. The caller waits for it; meanwhile
  // the CO thread may hand work back to the caller (`for_caller`), as a dialog
  // the service object shows from inside the call runs on the caller's thread.
  struct Task {
    explicit Task(std::function<void()> f) : fn(std::move(f)) {}
    std::function<void()> fn;
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool caller_busy = false;  // the caller is running work handed back to it
    std::function<void()> for_caller;
  };

  void Start() {
    platform::Event ready(true, false);
    thread = std::thread([this, &ready] {
      co_thread_id = std::this_thread::get_id();
      // The thread's COM apartment outlives every object made on it.
      platform::ComApartment apartment;
      call_window = platform::MessageWindow::Create("OPOS CO", [this](const platform::Message& m) {
        if (m.msg != kRunTask) return false;
        auto* task = reinterpret_cast<Task*>(m.lparam);
        // Tasks nest while a dialog is shown: its calls arrive as tasks too.
        Task* outer = std::exchange(current_task, task);
        task->fn();
        current_task = outer;
        // Notified under the lock: once it is released the caller may return
        // and the task is gone.
        std::lock_guard<std::mutex> hold(task->mutex);
        task->done = true;
        task->changed.notify_all();
        return true;
      });
      ready.Set();
      // Between calls the thread pumps, so the service object's event window can
      // deliver events while the application is idle.
      while (!quit) platform::WaitAndPumpMessages(platform::kInfinite);
      call_window.reset();
      com.reset();
    });
    ready.Wait(platform::kInfinite);
  }

  void Stop() {
    if (!thread.joinable()) return;
    RunOnCo([this] { quit = true; });
    thread.join();
  }

  // Runs `fn` on the control object's thread and waits for it; called from that
  // thread (a listener calling back in) it runs at once.
  void RunOnCo(std::function<void()> fn) {
    if (std::this_thread::get_id() == co_thread_id) {
      fn();
      return;
    }
    Task task(std::move(fn));
    if (!call_window || !call_window->Post(kRunTask, 0, reinterpret_cast<intptr_t>(&task))) {
      platform::Trace("co: the control object's thread is gone; call dropped");
      return;
    }
    std::unique_lock<std::mutex> lock(task.mutex);
    for (;;) {
      task.changed.wait(lock, [&] { return task.done || task.for_caller; });
      if (!task.for_caller) break;
      std::function<void()> work = std::exchange(task.for_caller, nullptr);
      task.caller_busy = true;
      lock.unlock();
      work();
      lock.lock();
      task.caller_busy = false;
    }
  }

  // CO thread: runs `work` on the thread of the application call in progress
  // and pumps until it is done, so that the calls `work` makes (tasks of their
  // own) and the service object's events are served meanwhile. Outside an
  // application call, or while its thread is busy with earlier work, `work`
  // runs here.
  void RunOnCaller(const std::function<void()>& work) {
    Task* task = current_task;
    bool handed = false;
    if (task) {
      std::lock_guard<std::mutex> hold(task->mutex);
      handed = !task->caller_busy && !task->done;
    }
    if (!handed) {
      work();
      return;
    }
    bool finished = false;
    std::shared_ptr<platform::ThreadQueue> here = platform::CurrentThreadQueue();
    {
      std::lock_guard<std::mutex> hold(task->mutex);
      task->for_caller = [&work, &finished, task, here] {
        try {
          work();
        } catch (...) {
          platform::Trace("co: the health check's dialog failed with an exception");
        }
        {
          std::lock_guard<std::mutex> done(task->mutex);
          finished = true;
        }
        platform::WakeThread(here);
      };
      task->changed.notify_all();
    }
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(task->mutex);
        if (finished) break;
      }
      platform::WaitAndPumpMessages(platform::kInfinite);
    }
  }

  // --- calls into the service object (CO thread only) -----------------------
  int32_t InvokeMethod(int id, std::vector<Arg>& args, std::string* string_result = nullptr) {
    const std::string_view sig = kDispatchMethods[id - 1].params;
    std::vector<VARIANT> v(sig.size());
    std::vector<LONG> longs(sig.size());
    std::vector<BSTR> bstrs(sig.size(), nullptr);
    for (size_t i = 0; i < sig.size(); ++i) {
      VARIANT& var = v[sig.size() - 1 - i];
      VariantInit(&var);
      const Arg& arg = args[i];
      switch (sig[i]) {
        case 'L':
          var.vt = VT_I4;
          var.lVal = arg.number;
          break;
        case 'S':
          var.vt = VT_BSTR;
          var.bstrVal = bstrs[i] = platform::AllocBstrFromAnsi(arg.text);
          break;
        case 'D':
          var.vt = VT_DISPATCH;
          var.pdispVal = this;
          break;
        case 'l':
          longs[i] = arg.number;
          var.vt = VT_I4 | VT_BYREF;
          var.plVal = &longs[i];
          break;
        case 's':
          bstrs[i] = platform::AllocBstrFromAnsi(arg.text);
          var.vt = VT_BSTR | VT_BYREF;
          var.pbstrVal = &bstrs[i];
          break;
      }
    }
    DISPPARAMS params{v.data(), nullptr, static_cast<UINT>(v.size()), 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = so->Invoke(dispids[id - 1], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                            &params, &result, nullptr, nullptr);
    for (size_t i = 0; i < sig.size(); ++i) {
      if (sig[i] == 'l') args[i].number = longs[i];
      if (sig[i] == 's') args[i].text = platform::AnsiFromBstr(bstrs[i]);
      SysFreeString(bstrs[i]);
    }
    int32_t rc = 0;
    if (FAILED(hr)) {
      platform::Trace("co: %s failed with 0x%08X",
                      std::string(kDispatchMethods[id - 1].name).c_str(),
                      static_cast<unsigned>(hr));
      rc = OPOS_E_FAILURE;
    } else if (result.vt == VT_I4) {
      rc = result.lVal;
    } else if (result.vt == VT_BSTR && string_result) {
      *string_result = platform::AnsiFromBstr(result.bstrVal);
    }
    VariantClear(&result);
    return rc;
  }

  int32_t OpenOnCo(const std::string& name) {
    if (so) return OPOS_E_ILLEGAL;
    std::string key = std::string(kDeviceKeyPrefix) + name;
    if (!registry.KeyExists(Hive::kLocalMachine, key).ok()) {
      platform::Trace("co: no device entry named %s", name.c_str());
      return OPOS_E_NOEXIST;
    }
    std::string progid, clsid_text;
    platform::Status st = platform::ReadText(registry, Hive::kLocalMachine, key, "", &progid);
    if (st.ok())
      st = platform::ReadText(registry, Hive::kClassesRoot, progid + "\\CLSID", "", &clsid_text);
    GUID clsid{};
    if (st.ok() && !platform::GuidFromString(clsid_text, &clsid))
      st = platform::Status::Fail(platform::Outcome::kMalformed, "CLSID of " + progid);
    if (!st.ok()) {
      platform::Trace("co: %s: %s", name.c_str(), st.ToString().c_str());
      return OPOS_E_NOSERVICE;
    }
    // As the control object does: CoCreateInstance by the class the ProgID
    // names (COM's own steps over a registry file).
    if (!com) com = platform::NewComClient(registry);
    IDispatch* created = com->CreateDispatch(clsid, &st);
    if (!created) {
      platform::Trace("co: %s: %s", progid.c_str(), st.ToString().c_str());
      return OPOS_E_NOSERVICE;
    }
    for (size_t i = 0; i < kDispatchMethods.size(); ++i) {
      Bstr name_bstr(kDispatchMethods[i].name);
      LPOLESTR n = name_bstr.get();
      if (FAILED(created->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &dispids[i]))) {
        platform::Trace("co: %s lacks the method %s", progid.c_str(),
                        std::string(kDispatchMethods[i].name).c_str());
        created->Release();
        com->FreeUnusedServers();
        return OPOS_E_NOSERVICE;
      }
    }
    so = created;
    std::vector<Arg> args = {Arg::String("POSPrinter"), Arg::String(name), Arg::Long(0)};
    int32_t rc = InvokeMethod(DispatchIdOf("OpenService"), args);
    if (rc != OPOS_SUCCESS) ReleaseService();
    return rc;
  }

  void ReleaseService() {
    if (so) so->Release();
    so = nullptr;
    // Servers stay loaded while something of theirs lives (another control
    // object's service object), as COM keeps them.
    if (com) com->FreeUnusedServers();
  }

  using Bstr = platform::Bstr;

  platform::Registry& registry;
  std::thread thread;
  std::thread::id co_thread_id;
  std::atomic<bool> quit{false};
  std::unique_ptr<platform::MessageWindow> call_window;
  IDispatch* so = nullptr;
  std::unique_ptr<platform::ComClient> com;  // made, used and ended on the CO thread
  DISPID dispids[36] = {};
  std::mutex listeners_mutex;
  std::vector<EventListener*> listeners;
  std::atomic<HealthDialogProvider*> health_dialogs{nullptr};
  Task* current_task = nullptr;  // CO thread only: the application call it runs
  int32_t closed_result = OPOS_E_CLOSED;
};

PosPrinter::PosPrinter(platform::Registry& registry) : impl_(std::make_unique<Impl>(registry)) {
  impl_->Start();
}

PosPrinter::~PosPrinter() {
  Close();
  impl_->Stop();
}

int32_t PosPrinter::Open(const std::string& device_name) {
  int32_t rc = OPOS_E_FAILURE;
  impl_->RunOnCo([&] { rc = impl_->OpenOnCo(device_name); });
  impl_->closed_result = rc == OPOS_SUCCESS ? OPOS_E_CLOSED : rc;
  return rc;
}

int32_t PosPrinter::Close() {
  int32_t rc = OPOS_E_CLOSED;
  impl_->RunOnCo([&] {
    if (!impl_->so) return;
    std::vector<Arg> none;
    rc = impl_->InvokeMethod(DispatchIdOf("Close"), none);
    impl_->ReleaseService();
  });
  impl_->closed_result = OPOS_E_CLOSED;
  return rc;
}

bool PosPrinter::IsOpen() const {
  bool open = false;
  impl_->RunOnCo([&] { open = impl_->so != nullptr; });
  return open;
}

int32_t PosPrinter::Call(std::string_view method, std::vector<Arg>& args) {
  int id = DispatchIdOf(method);
  if (id == 0) {
    platform::Trace("co: no method named %.*s", static_cast<int>(method.size()), method.data());
    return -1;
  }
  std::string_view sig = kDispatchMethods[id - 1].params;
  if (args.size() != sig.size()) return -1;
  for (size_t i = 0; i < sig.size(); ++i) {
    bool want_text = sig[i] == 'S' || sig[i] == 's';
    if (sig[i] == 'D' || want_text != (args[i].kind == Arg::kString)) return -1;
  }
  if (id == DispatchIdOf("Close")) return Close();
  int32_t rc = OPOS_E_CLOSED;
  impl_->RunOnCo([&] {
    if (impl_->so) rc = impl_->InvokeMethod(id, args);
  });
  impl_->closed_result = OPOS_E_CLOSED;
  return rc;
}

int32_t PosPrinter::ClaimDevice(int32_t timeout) {
  std::vector<Arg> a = {Arg::Long(timeout)};
  return Call("ClaimDevice", a);
}

int32_t PosPrinter::ReleaseDevice() {
  std::vector<Arg> a;
  return Call("ReleaseDevice", a);
}

int32_t PosPrinter::PrintNormal(int32_t station, const std::string& data) {
  std::vector<Arg> a = {Arg::Long(station), Arg::String(data)};
  return Call("PrintNormal", a);
}

int32_t PosPrinter::CutPaper(int32_t percentage) {
  std::vector<Arg> a = {Arg::Long(percentage)};
  return Call("CutPaper", a);
}

bool PosPrinter::GetNumber(std::string_view property, int32_t* value) {
  const PropertyInfo* p = FindProperty(property);
  if (!p || p->kind != PropertyKind::kNumber) return false;
  // As the control object does: while closed, State reads closed and
  // ResultCode reads the failure that left it closed.
  int32_t v = 0;
  bool open = false;
  impl_->RunOnCo([&] {
    if (!impl_->so) return;
    open = true;
    std::vector<Arg> a = {Arg::Long(p->index)};
    v = impl_->InvokeMethod(DispatchIdOf("GetPropertyNumber"), a);
  });
  if (!open)
    v = p->index == PIDX_State        ? OPOS_S_CLOSED
        : p->index == PIDX_ResultCode ? impl_->closed_result
                                      : 0;
  *value = v;
  return true;
}

bool PosPrinter::GetString(std::string_view property, std::string* value) {
  const PropertyInfo* p = FindProperty(property);
  if (!p || p->kind != PropertyKind::kString) return false;
  value->clear();
  impl_->RunOnCo([&] {
    if (!impl_->so) return;
    std::vector<Arg> a = {Arg::Long(p->index)};
    impl_->InvokeMethod(DispatchIdOf("GetPropertyString"), a, value);
  });
  return true;
}

bool PosPrinter::SetNumber(std::string_view property, int32_t value, int32_t* result_code) {
  const PropertyInfo* p = FindProperty(property);
  if (!p || p->kind != PropertyKind::kNumber) return false;
  *result_code = OPOS_E_CLOSED;
  impl_->RunOnCo([&] {
    if (!impl_->so) return;
    std::vector<Arg> a = {Arg::Long(p->index), Arg::Long(value)};
    impl_->InvokeMethod(DispatchIdOf("SetPropertyNumber"), a);
    std::vector<Arg> r = {Arg::Long(PIDX_ResultCode)};
    *result_code = impl_->InvokeMethod(DispatchIdOf("GetPropertyNumber"), r);
  });
  return true;
}

bool PosPrinter::SetString(std::string_view property, const std::string& value,
                           int32_t* result_code) {
  const PropertyInfo* p = FindProperty(property);
  if (!p || p->kind != PropertyKind::kString) return false;
  *result_code = OPOS_E_CLOSED;
  impl_->RunOnCo([&] {
    if (!impl_->so) return;
    std::vector<Arg> a = {Arg::Long(p->index), Arg::String(value)};
    impl_->InvokeMethod(DispatchIdOf("SetPropertyString"), a);
    std::vector<Arg> r = {Arg::Long(PIDX_ResultCode)};
    *result_code = impl_->InvokeMethod(DispatchIdOf("GetPropertyNumber"), r);
  });
  return true;
}

int32_t PosPrinter::ResultCode() {
  int32_t v = 0;
  GetNumber("ResultCode", &v);
  return v;
}

int32_t PosPrinter::ResultCodeExtended() {
  int32_t v = 0;
  GetNumber("ResultCodeExtended", &v);
  return v;
}

void PosPrinter::SetHealthDialogProvider(HealthDialogProvider* provider) {
  impl_->health_dialogs = provider;
}

void PosPrinter::AddListener(EventListener* listener) {
  std::lock_guard<std::mutex> guard(impl_->listeners_mutex);
  impl_->listeners.push_back(listener);
}

void PosPrinter::RemoveListener(EventListener* listener) {
  std::lock_guard<std::mutex> guard(impl_->listeners_mutex);
  auto& l = impl_->listeners;
  l.erase(std::remove(l.begin(), l.end(), listener), l.end());
}

}  // namespace qz381::co
