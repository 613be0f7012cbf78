// CWavReader: opens a WAV file for the conversion, walks its chunks once and keeps the file open
// so that the conversion can read the sample data block by block.
#pragma once

#include <vector>

#include "platform/mmio.h"
#include "platform/windef.h"

class CWavReader {
  public:
    CWavReader() = default;
    ~CWavReader() { Close(); }
    CWavReader(const CWavReader&) = delete;
    CWavReader& operator=(const CWavReader&) = delete;

    // Opens path (system code page) for reading and walks its chunks. Returns 1 when the file
    // is accepted: a RIFF "WAVE" chunk holding a "fmt " chunk and a non-empty "data" chunk, no
    // chunk reaching past the RIFF chunk's declared end. The file then stays open. Returns -1
    // otherwise, with the file closed and nothing held. Writes no message.
    int Open(LPCSTR path);
    // Frees the format block and closes the file, when one is open.
    void Close();

    // Read directly by the conversion, which seeks and reads the open file itself.
    HMMIO file = nullptr;           // null while no file is open
    std::vector<BYTE> formatBlock;  // body of the first "fmt " chunk; empty until one is read
    DWORD dataOffset = 0;           // file offset of the chosen "data" chunk's contents
    DWORD dataSize = 0;             // declared size of that chunk; 0 while none is chosen

  private:
    bool ReadFormat(const MMCKINFO& chunk);
    int Fail();
};
