// talrec install-browser-host: writes (or removes) the manifest by which a browser finds
// talrec's native-messaging host for the current user. The manifest names this talrec (or
// --exec PATH) and the one extension allowed to start it; Chromium and Chrome list the
// extension's origin, Firefox its ID.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "host/Commands.h"
#include "host/common/TerminalText.h"
#include "host/native/NativeNames.h"
#include "platform/libloaderapi.h"

namespace talrec::host {
namespace {

namespace fs = std::filesystem;

constexpr Option kOptions[] = {
    {"--browser", "NAME"}, {"--remove", nullptr}, {"--print", nullptr}, {"--exec", "PATH"}};

struct Browser {
    const char* name;
    bool firefox;         // lists the extension by ID, not by origin
    bool underConfig;     // the folder lies in $XDG_CONFIG_HOME (else in $HOME)
    const char* profile;  // the browser's own folder there: it shows the browser is used
    const char* hosts;    // the manifests' folder inside it
};

constexpr Browser kBrowsers[] = {
    {"chromium", false, true, "chromium", "NativeMessagingHosts"},
    {"chrome", false, true, "google-chrome", "NativeMessagingHosts"},
    {"firefox", true, false, ".mozilla", "native-messaging-hosts"},
};

fs::path Home() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home == '/' ? fs::path(home) : fs::path();
}

fs::path ProfileFolder(const Browser& browser) {
    if (!browser.underConfig) return Home() / browser.profile;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const fs::path base =
        config != nullptr && *config == '/' ? fs::path(config) : Home() / ".config";
    return base / browser.profile;
}

fs::path ManifestPath(const Browser& browser) {
    return ProfileFolder(browser) / browser.hosts / (std::string(kNativeHostName) + ".json");
}

std::string Manifest(const Browser& browser, const std::string& program) {
    nlohmann::ordered_json manifest = {{"name", kNativeHostName},
                                       {"description", "talrec recorder"},
                                       {"path", program},
                                       {"type", "stdio"}};
    if (browser.firefox) {
        manifest["allowed_extensions"] = {kFirefoxExtensionId};
    } else {
        manifest["allowed_origins"] = {kExtensionOrigin};
    }
    return manifest.dump(2) + "\n";
}

// Writes `text` to `path` through a file beside it, so that a browser reading the manifest never
// sees half of one.
bool WriteFile(const fs::path& path, const std::string& text, std::string& error) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        error = "cannot make " + path.parent_path().string() + ": " + ec.message();
        return false;
    }
    const fs::path temporary = path.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            error = "cannot write " + temporary.string();
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::permissions(temporary,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    ec);
    fs::rename(temporary, path, ec);
    if (ec) {
        error = "cannot write " + path.string() + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

int RunInstallBrowserHost(const Arguments& arguments) {
    std::vector<const Browser*> browsers;
    for (const std::string& name : arguments.Values("--browser")) {
        const Browser* found = nullptr;
        for (const Browser& browser : kBrowsers) {
            if (name == browser.name) found = &browser;
        }
        if (found == nullptr) {
            std::fprintf(stderr,
                         "talrec install-browser-host: unknown browser '%s' (chromium, chrome, "
                         "firefox)\n",
                         TerminalText(name).c_str());
            return 2;
        }
        browsers.push_back(found);
    }
    const bool print = arguments.Has("--print");
    if (print && (browsers.size() != 1 || arguments.Has("--remove"))) {
        std::fprintf(stderr, "talrec install-browser-host: --print takes one --browser\n");
        return 2;
    }
    std::string program;
    if (auto given = arguments.Value("--exec")) {
        program = *given;
    } else {
        char path[MAX_PATH] = {};
        if (GetModuleFileNameA(nullptr, path, MAX_PATH) == 0) {
            std::fprintf(stderr, "talrec install-browser-host: cannot find this program\n");
            return 1;
        }
        program = path;
    }
    // The browser starts the program without a shell and without a search path.
    if (!fs::path(program).is_absolute()) {
        std::fprintf(stderr, "talrec install-browser-host: --exec needs an absolute path\n");
        return 2;
    }
    if (print) {
        std::fputs(Manifest(*browsers.front(), program).c_str(), stdout);
        return 0;
    }
    if (Home().empty()) {
        std::fprintf(stderr, "talrec install-browser-host: HOME is not set\n");
        return 1;
    }
    // By default: every browser this user has used, and Chromium when there is none.
    if (browsers.empty()) {
        std::error_code ec;
        for (const Browser& browser : kBrowsers) {
            if (fs::is_directory(ProfileFolder(browser), ec)) browsers.push_back(&browser);
        }
        if (browsers.empty()) browsers.push_back(&kBrowsers[0]);
    }
    int status = 0;
    for (const Browser* browser : browsers) {
        const fs::path path = ManifestPath(*browser);
        const std::string shown = TerminalText(path.string());
        if (arguments.Has("--remove")) {
            std::error_code ec;
            if (fs::remove(path, ec)) {
                std::printf("%s: removed %s\n", browser->name, shown.c_str());
            } else if (ec) {
                std::fprintf(stderr, "talrec install-browser-host: cannot remove %s: %s\n",
                             shown.c_str(), ec.message().c_str());
                status = 1;
            } else {
                std::printf("%s: no manifest at %s\n", browser->name, shown.c_str());
            }
            continue;
        }
        std::string error;
        if (!WriteFile(path, Manifest(*browser, program), error)) {
            std::fprintf(stderr, "talrec install-browser-host: %s\n", TerminalText(error).c_str());
            status = 1;
            continue;
        }
        std::printf("%s: wrote %s\n", browser->name, shown.c_str());
    }
    return status;
}

}  // namespace

const Command kInstallBrowserHostCommand = {
    "install-browser-host",
    "[--browser chromium|chrome|firefox]... [--remove] [--print] [--exec PATH]",
    "let the browser extension start talrec",
    "  Writes the native-messaging host manifest for the current user, so that\n"
    "  talrec's browser extension may start this talrec: for Chromium in\n"
    "  ~/.config/chromium/NativeMessagingHosts, for Chrome in\n"
    "  ~/.config/google-chrome/NativeMessagingHosts, for Firefox in\n"
    "  ~/.mozilla/native-messaging-hosts. Without --browser, for each of these\n"
    "  browsers whose folder exists, else for Chromium. --remove takes the\n"
    "  manifests away; --print writes one browser's manifest to standard output\n"
    "  instead; --exec names another program than this one (an absolute path).\n"
    "  exit: 0 done, 1 a manifest could not be written or removed, 2 wrong arguments\n",
    kOptions,
    0,
    0,
    RunInstallBrowserHost};

}  // namespace talrec::host
