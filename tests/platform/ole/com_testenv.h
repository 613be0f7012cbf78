// A private registry file for each test, so that tests running side by side never share one.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/winreg.h"

class ScratchRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string base = std::filesystem::temp_directory_path() / "talrec-reg-XXXXXX";
        ASSERT_NE(mkdtemp(base.data()), nullptr);
        dir_ = base;
        path_ = dir_ + "/registry";
        setenv("TALREC_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override {
        // Restore write permission on anything a test made read-only, then clean up.
        chmod(dir_.c_str(), 0700);
        chmod(path_.c_str(), 0600);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        unsetenv("TALREC_REGISTRY");
    }
    std::string FileText() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void WriteFile(const std::string& text) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << text;
    }
    // A string value under HKEY_CLASSES_ROOT, or "<no key>" or "<no value>".
    static std::string Value(const std::string& key, const char* name = "") {
        HKEY h;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
            return "<no key>";
        char buf[512] = {};
        DWORD size = sizeof buf;
        LSTATUS rc =
            RegQueryValueExA(h, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
        RegCloseKey(h);
        return rc == ERROR_SUCCESS ? buf : "<no value>";
    }

    std::string dir_;
    std::string path_;
};
