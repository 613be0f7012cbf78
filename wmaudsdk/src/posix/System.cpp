// POSIX: names in the character set of the process's locale, and FFmpeg kept loaded.
#include "System.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

namespace {

// FFmpeg and the libraries under it stay loaded once this component has been: some of them
// allocate at load and never free, so unloading them with each conversion would lose that
// memory every time. The component itself still unloads.
__attribute__((constructor)) void KeepFfmpegLoaded() {
    void* const entries[] = {
        reinterpret_cast<void*>(&avcodec_version), reinterpret_cast<void*>(&avformat_version),
        reinterpret_cast<void*>(&swresample_version), reinterpret_cast<void*>(&avutil_version)};
    for (void* entry : entries) {
        Dl_info info{};
        if (dladdr(entry, &info) != 0 && info.dli_fname != nullptr) {
            dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);  // never closed
        }
    }
}

}  // namespace

// The name in the bytes the file system holds: the character set of the process's locale, as
// the caller's own (ANSI) strings are; the untouched "C" locale counts as UTF-8. Characters the
// set cannot hold fail the conversion.
bool FileSystemName(LPCWSTR name, std::string& out) {
    const char* codeset = nl_langinfo(CODESET);
    const std::string charset = (codeset == nullptr || std::strcmp(codeset, "ANSI_X3.4-1968") == 0)
                                    ? std::string("UTF-8")
                                    : std::string(codeset);
    iconv_t cd = iconv_open(charset.c_str(), "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    size_t units = 0;
    while (name[units] != 0) ++units;
    std::string in(units * 2, '\0');
    for (size_t i = 0; i < units; ++i) {
        in[2 * i] = static_cast<char>(name[i] & 0xFF);
        in[2 * i + 1] = static_cast<char>(name[i] >> 8);
    }
    out.assign(units * 4 + 4, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return false;
    out.resize(out.size() - dstLeft);
    return true;
}

void PrepareOutputFile(const std::string& path) {
    if (const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
        fd >= 0) {
        ::close(fd);
    }
}
