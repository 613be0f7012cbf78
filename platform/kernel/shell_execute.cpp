// ShellExecuteA's "open" on Linux: xdg-open, started in a process of its own that nobody waits
// for (the child that starts it ends at once and is reaped here). A pipe closed on exec tells
// whether xdg-open could be run at all.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/shellapi.h"

namespace {

HINSTANCE Result(std::intptr_t value) {
    return reinterpret_cast<HINSTANCE>(value);
}

}  // namespace

HINSTANCE ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR, INT) {
    if ((lpOperation != nullptr && std::strcmp(lpOperation, "open") != 0) ||
        (lpParameters != nullptr && *lpParameters != '\0') || lpFile == nullptr) {
        return Result(SE_ERR_NOASSOC);
    }
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Result(SE_ERR_OOM);
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        if (fork() == 0) {
            const char* argv[] = {"xdg-open", lpFile, nullptr};
            execvp(argv[0], const_cast<char* const*>(argv));
            const int error = errno;
            (void)!write(report[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(report[1]);
    int error = 0;
    ssize_t got = child < 0 ? -1 : 0;
    if (child > 0) {
        while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    close(report[0]);
    if (child < 0) return Result(SE_ERR_OOM);
    return Result(got == sizeof error ? static_cast<std::intptr_t>(ERROR_FILE_NOT_FOUND) : 33);
}
