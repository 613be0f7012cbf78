// The folder of the running program: build/bin for the tests and benchmarks, beside talrec,
// with the libraries and modules in ../lib. A program finds the others through it however it
// was started.
#pragma once

#include <filesystem>
#include <string>

namespace talrec::test {

inline std::string ProgramFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

}  // namespace talrec::test
