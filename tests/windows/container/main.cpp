// talrec-container: a small ActiveX container for tests under Wine (or Windows). It creates a
// control by ProgID in a window of its own, in-place activates it through atl.dll or its own
// site, connects an event sink, and drives a scenario (see Scenario.h), printing every call,
// result, event and answered message box. Each check prints "ok" or "FAIL"; the last line is
// "N passed, N failed".
//
//   talrec-container [options] PROGID STEP...
//     --site atl|own      who sites the control (default atl)
//     --scenario FILE     steps from FILE, one a line, before the steps on the command line
//     --timeout MS        default wait for an event (default 10000)
//     --quiet EVENT       do not print the arrivals of EVENT (repeatable)
//     --answer ID         the button pressed in message boxes (default: each box's default)
//     --trace-site        print the control's calls on the own site
//     --max-seconds N     the whole run's limit, then exit 4 (default 300)
//     --set NAME=VALUE    a scenario variable, ${NAME} (repeatable)
//
// Exit status: 0 every check passed, 1 a check failed, 2 wrong arguments or scenario, 3 the
// control could not be created or activated, 4 the time limit ran out.
#include <windows.h>
// (windows.h comes first: the other SDK headers rely on it.)
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EventSink.h"
#include "Host.h"
#include "MessageBoxes.h"
#include "Scenario.h"
#include "Text.h"

namespace {

struct Options {
    std::string site = "atl";
    std::string progId;
    std::vector<Step> steps;
    DWORD timeoutMs = 10000;
    std::vector<std::string> quiet;
    int answer = 0;
    bool traceSite = false;
    DWORD maxSeconds = 300;
    std::map<std::string, std::string> vars;
};

bool LoadScenario(const std::string& path, std::vector<Step>& steps, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        Step step;
        if (!ParseStep(line, step, error)) {
            error = path + ":" + std::to_string(number) + ": " + error;
            return false;
        }
        if (!step.verb.empty()) steps.push_back(std::move(step));
    }
    return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    std::vector<Step> inlineSteps;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string* {
            if (i + 1 >= args.size()) return nullptr;
            return &args[++i];
        };
        const std::string* v = nullptr;
        if (arg == "--trace-site") {
            options.traceSite = true;
        } else if (arg.rfind("--", 0) == 0 && options.progId.empty()) {
            if ((v = value()) == nullptr) {
                error = arg + " needs a value";
                return false;
            }
            if (arg == "--site" && (*v == "atl" || *v == "own")) {
                options.site = *v;
            } else if (arg == "--scenario") {
                if (!LoadScenario(*v, options.steps, error)) return false;
            } else if (arg == "--timeout") {
                options.timeoutMs = std::stoul(*v);
            } else if (arg == "--quiet") {
                options.quiet.push_back(*v);
            } else if (arg == "--answer") {
                options.answer = std::stoi(*v);
            } else if (arg == "--max-seconds") {
                options.maxSeconds = std::stoul(*v);
            } else if (arg == "--set" && v->find('=') != std::string::npos) {
                options.vars[v->substr(0, v->find('='))] = v->substr(v->find('=') + 1);
            } else {
                error = "unknown option " + arg;
                return false;
            }
        } else if (options.progId.empty()) {
            options.progId = arg;
        } else {
            Step step;
            if (!ParseStep(arg, step, error)) {
                error = "step \"" + arg + "\": " + error;
                return false;
            }
            if (!step.verb.empty()) inlineSteps.push_back(std::move(step));
        }
    }
    if (options.progId.empty()) {
        error = "usage: talrec-container [options] PROGID STEP...";
        return false;
    }
    for (Step& step : inlineSteps) options.steps.push_back(std::move(step));
    return true;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// Dispatches the thread's messages until `done` says so or the time is up; true when done.
template <typename Done>
bool PumpUntil(DWORD timeoutMs, Done done) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

class Runner {
  public:
    Runner(const Options& options, IDispatch* control, EventSink& sink, MessageBoxes& boxes,
           Host& host)
        : options_(options),
          control_(control),
          sink_(sink),
          boxes_(boxes),
          host_(host),
          vars_(options.vars) {}

    void Run() {
        for (const Step& step : options_.steps) {
            Say("step: " + step.source);
            try {
                RunStep(step);
            } catch (const std::exception& e) {  // a number that does not parse
                Check(false, "step \"" + step.source + "\" cannot run: " + e.what());
            }
        }
    }
    int Passed() const { return passed_; }
    int Failed() const { return failed_; }

  private:
    void Check(bool ok, const std::string& what) {
        ++(ok ? passed_ : failed_);
        Say((ok ? "ok - " : "FAIL - ") + what);
    }

    std::string Expand(const std::string& word) const {
        std::string out;
        for (size_t i = 0; i < word.size(); ++i) {
            size_t close;
            if (word.compare(i, 2, "${") == 0 && (close = word.find('}', i)) != std::string::npos) {
                auto found = vars_.find(word.substr(i + 2, close - i - 2));
                out += found != vars_.end() ? found->second : "";
                i = close;
            } else {
                out += word[i];
            }
        }
        return out;
    }

    static VARIANT Argument(const std::string& word) {
        VARIANT v;
        VariantInit(&v);
        const bool forceText = word.rfind("s:", 0) == 0, forceNumber = word.rfind("i:", 0) == 0;
        const std::string text = forceText || forceNumber ? word.substr(2) : word;
        char* end = nullptr;
        const long number = strtol(text.c_str(), &end, 10);
        if (!forceText && !text.empty() && *end == 0) {
            V_VT(&v) = VT_I4;
            V_I4(&v) = number;
        } else {
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = SysAllocString(Widen(text).c_str());
        }
        return v;
    }

    void Invoke(const Step& step) {
        const std::wstring name = Widen(step.args[0]);
        LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        std::vector<VARIANT> args;  // last argument first, as IDispatch wants them
        for (size_t i = step.args.size(); i-- > 1;) args.push_back(Argument(Expand(step.args[i])));
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS params = {args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        WORD flags = DISPATCH_METHOD;
        if (step.verb == "get") flags = DISPATCH_PROPERTYGET;
        if (step.verb == "put") {
            flags = DISPATCH_PROPERTYPUT;
            params.rgdispidNamedArgs = &putId;
            params.cNamedArgs = 1;
        }
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception = {};
        UINT argError = 0;
        if (SUCCEEDED(hr)) {
            hr = control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                  step.verb == "put" ? nullptr : &result, &exception, &argError);
        }
        for (VARIANT& arg : args) VariantClear(&arg);
        std::string text = VariantText(result);
        VariantClear(&result);
        std::string description = Narrow(exception.bstrDescription);
        if (hr == DISP_E_EXCEPTION && exception.scode != 0) {
            description = HresultText(exception.scode) + " " + description;
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        const std::string what = step.verb + " " + step.args[0];
        if (FAILED(hr)) {
            Say(what + " failed: " + HresultText(hr) + " " + description);
            const bool expected = step.hasExpect && step.expect == "!error";
            Check(expected, what + (expected ? " raises an error" : " failed"));
            return;
        }
        Say(what + " -> " + text);
        Result(step, what, text);
    }

    // A step's result: kept in its variable, checked against its expectation.
    void Result(const Step& step, const std::string& what, const std::string& text) {
        if (!step.store.empty()) vars_[step.store] = text;
        if (!step.hasExpect) {
            Check(true, what + " succeeds");
        } else {
            const std::string expect = Expand(step.expect);
            Check(
                Matches(text, expect),
                what + " => " + expect + (Matches(text, expect) ? "" : " (got \"" + text + "\")"));
        }
    }

    // read PATH / size PATH: the file's contents or its size as the step's result.
    void FileResult(const Step& step) {
        const std::string path = Expand(step.args[0]);
        FILE* file = _wfopen(Widen(path).c_str(), L"rb");
        if (file == nullptr) {
            Check(false, step.verb + " " + path + ": cannot open");
            return;
        }
        std::string contents;
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) contents.append(buffer, got);
        fclose(file);
        const std::string text = step.verb == "size" ? std::to_string(contents.size()) : contents;
        Say(step.verb + " " + path + " -> " + text);
        Result(step, step.verb + " " + path, text);
    }

    void Wait(const Step& step) {
        DWORD timeout = options_.timeoutMs;
        std::vector<std::string> wanted;
        for (const std::string& arg : step.args) {
            if (arg.rfind("timeout=", 0) == 0) {
                timeout = std::stoul(arg.substr(8));
            } else {
                wanted.push_back(Expand(arg));
            }
        }
        size_t found = 0;
        bool ok = PumpUntil(timeout, [&] {
            const auto& log = sink_.Log();
            for (size_t i = cursor_; i < log.size(); ++i) {
                if (log[i].name != wanted[0]) continue;
                if (wanted.size() > 1 && (log[i].args.empty() || log[i].args[0] != wanted[1])) {
                    continue;
                }
                found = i;
                return true;
            }
            return false;
        });
        if (ok) cursor_ = found + 1;
        Check(ok, "event " + wanted[0] + (wanted.size() > 1 ? "(" + wanted[1] + ")" : "") +
                      (ok ? "" : " within " + std::to_string(timeout) + " ms"));
    }

    void Count(const Step& step) {
        PumpUntil(0, [] { return true; });
        int n = 0;
        for (const EventRecord& e : sink_.Log()) n += e.name == step.args[0];
        const int limit = std::stoi(step.args[2]);
        const std::string& op = step.args[1];
        const bool ok = op == ">=" ? n >= limit : op == "<=" ? n <= limit : n == limit;
        Check(ok, step.args[0] + " arrived " + std::to_string(n) + " times, " + op + " " +
                      step.args[2]);
    }

    void MessageBoxCheck(const Step& step) {
        PumpUntil(0, [] { return true; });
        std::vector<AnsweredBox> answered = boxes_.TakeAnswered();
        if (step.verb == "nomsgbox") {
            Check(answered.empty(), "no message box (" + std::to_string(answered.size()) + ")");
            return;
        }
        const std::string wanted = step.args.empty() ? "" : Expand(step.args[0]);
        bool ok = false;
        for (const AnsweredBox& box : answered)
            ok = ok || box.text.find(wanted) != std::string::npos;
        Check(ok, "message box containing \"" + wanted + "\" (" + std::to_string(answered.size()) +
                      " answered)");
    }

    // A PCM WAV file with the plain 44-byte header: RIFF, "fmt " of 16 bytes, then "data".
    void WavCheck(const Step& step) {
        const std::string path = Expand(step.args[0]);
        const std::string what = "WAV file " + path + " (" + step.args[1] + " channels, " +
                                 step.args[2] + " Hz, " + step.args[3] + " bits)";
        FILE* file = _wfopen(Widen(path).c_str(), L"rb");
        if (file == nullptr) {
            Check(false, what + ": cannot open");
            return;
        }
        unsigned char h[44] = {};
        const size_t got = fread(h, 1, sizeof h, file);
        fseek(file, 0, SEEK_END);
        const long size = ftell(file);
        fclose(file);
        auto u32 = [&](int at) {
            return h[at] | h[at + 1] << 8 | h[at + 2] << 16 | unsigned(h[at + 3]) << 24;
        };
        auto u16 = [&](int at) { return unsigned(h[at] | h[at + 1] << 8); };
        const unsigned channels = std::stoul(step.args[1]), rate = std::stoul(step.args[2]),
                       bits = std::stoul(step.args[3]), block = channels * bits / 8;
        std::string problem;
        if (got != sizeof h)
            problem = "shorter than its header";
        else if (memcmp(h, "RIFF", 4) != 0 || memcmp(h + 8, "WAVEfmt ", 8) != 0 ||
                 memcmp(h + 36, "data", 4) != 0)
            problem = "not a RIFF WAVE with fmt and data chunks";
        else if (u32(16) != 16 || u16(20) != 1)
            problem = "not a 16-byte PCM format chunk";
        else if (u16(22) != channels || u32(24) != rate || u16(34) != bits)
            problem = "format " + std::to_string(u16(22)) + "/" + std::to_string(u32(24)) + "/" +
                      std::to_string(u16(34));
        else if (u16(32) != block || u32(28) != rate * block)
            problem = "block align or byte rate wrong";
        else if (u32(4) != unsigned(size - 8))
            problem =
                "RIFF size " + std::to_string(u32(4)) + " for a file of " + std::to_string(size);
        else if (u32(40) != unsigned(size - 44))
            problem =
                "data size " + std::to_string(u32(40)) + " for a file of " + std::to_string(size);
        Check(problem.empty(),
              what + (problem.empty() ? ", " + std::to_string(size - 44) + " data bytes"
                                      : ": " + problem));
        if (problem.empty() && (step.hasExpect || !step.store.empty())) {
            Result(step, what + " data bytes", std::to_string(size - 44));
        }
    }

    HWND ControlWindow() const {
        IOleWindow* window = nullptr;
        HWND hwnd = nullptr;
        if (SUCCEEDED(
                control_->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window)))) {
            if (FAILED(window->GetWindow(&hwnd))) hwnd = nullptr;
            window->Release();
        }
        return hwnd != nullptr && IsWindow(hwnd) ? hwnd : nullptr;
    }

    void RunStep(const Step& step) {
        if (step.verb == "call" || step.verb == "get" || step.verb == "put") {
            Invoke(step);
        } else if (step.verb == "wait") {
            Wait(step);
        } else if (step.verb == "count") {
            Count(step);
        } else if (step.verb == "pump") {
            PumpUntil(std::stoul(step.args[0]), [] { return false; });
        } else if (step.verb == "msgbox" || step.verb == "nomsgbox") {
            MessageBoxCheck(step);
        } else if (step.verb == "window" || step.verb == "nowindow") {
            const bool has = ControlWindow() != nullptr;
            Check(has == (step.verb == "window"),
                  has ? "the control has a window" : "the control has no window");
        } else if (step.verb == "close") {
            HWND before = ControlWindow();
            host_.Close();
            PumpUntil(0, [] { return true; });
            Check(before != nullptr && !IsWindow(before), "Close destroys the control's window");
            Check(!host_.LeftInPlace(), "Close ends the in-place activation at the site");
        } else if (step.verb == "exists" || step.verb == "noexists") {
            const std::string path = Expand(step.args[0]);
            const bool there = GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
            Check(there == (step.verb == "exists"), path + (there ? " exists" : " does not exist"));
        } else if (step.verb == "wav") {
            WavCheck(step);
        } else if (step.verb == "read" || step.verb == "size") {
            FileResult(step);
        } else if (step.verb == "echo") {
            std::string line;
            for (const std::string& arg : step.args)
                line += (line.empty() ? "" : " ") + Expand(arg);
            Say(line);
        }
    }

    const Options& options_;
    IDispatch* control_;
    EventSink& sink_;
    MessageBoxes& boxes_;
    Host& host_;
    std::map<std::string, std::string> vars_;
    size_t cursor_ = 0;
    int passed_ = 0, failed_ = 0;
};

DWORD WINAPI Watchdog(LPVOID seconds) {
    Sleep(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(seconds)) * 1000);
    Say("container: time limit reached");
    fflush(stdout);
    ExitProcess(4);
}

int Run(const Options& options) {
    CreateThread(nullptr, 0, Watchdog,
                 reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(options.maxSeconds)), 0, nullptr);
    if (FAILED(OleInitialize(nullptr))) {
        Say("container: OleInitialize failed");
        return 3;
    }
    WNDCLASSW frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.lpszClassName = L"TalrecTestContainer";
    RegisterClassW(&frameClass);
    HWND frame = CreateWindowExW(0, frameClass.lpszClassName, L"talrec test container",
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                                 frameClass.hInstance, nullptr);
    HWND hostWindow = CreateWindowExW(0, frameClass.lpszClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0,
                                      320, 240, frame, nullptr, frameClass.hInstance, nullptr);
    std::string error;
    std::unique_ptr<Host> host =
        options.site == "own" ? MakeOwnSite(options.traceSite) : MakeAtlHost(error);
    if (!host) {
        Say("container: " + error);
        return 3;
    }
    MessageBoxes boxes;
    boxes.Install(options.answer);
    IUnknown* unknown = nullptr;
    HRESULT hr = host->Create(Widen(options.progId), hostWindow, &unknown);
    IDispatch* control = nullptr;
    if (SUCCEEDED(hr) && unknown != nullptr) {
        hr = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&control));
    } else if (SUCCEEDED(hr)) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        Say("container: cannot create " + options.progId + ": " + HresultText(hr));
        return 3;
    }
    Say("container: created " + options.progId + " through the " + options.site + " site");
    int status = 0;
    {
        EventSink sink;
        for (const std::string& name : options.quiet) sink.Quiet(name);
        if (!sink.Connect(unknown, error)) Say("container: events not connected: " + error);
        Runner runner(options, control, sink, boxes, *host);
        runner.Run();
        sink.Disconnect();
        control->Release();
        unknown->Release();
        host->Close();
        host.reset();
        Say(std::to_string(runner.Passed()) + " passed, " + std::to_string(runner.Failed()) +
            " failed");
        status = runner.Failed() == 0 ? 0 : 1;
    }
    boxes.Uninstall();
    DestroyWindow(frame);
    OleUninitialize();
    return status;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argvW = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Narrow(argvW[i]));
    LocalFree(argvW);
    Options options;
    std::string error;
    bool parsed = false;
    try {
        parsed = ParseOptions(args, options, error);
    } catch (const std::exception& e) {
        error = std::string("bad number in the options: ") + e.what();
    }
    if (!parsed) {
        Say("container: " + error);
        return 2;
    }
    return Run(options);
}
