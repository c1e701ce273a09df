#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace harrowgate {

// "\r" and the percentage right-aligned in three characters, then "%": five bytes, so the
// three characters in front of the '%' are blanks and digits, as the front-end reads them.
std::string FormatProgress(int percent);

// Prints the percentage when it changes, one flushed write each.
class ProgressPrinter {
  public:
    ProgressPrinter(std::FILE* out, int64_t expected_pictures);
    void Update(int64_t pictures_done);
    void Finish();  // "\r100%\n"

  private:
    void Print(int percent, bool last);
    std::FILE* out_;
    int64_t expected_;
    int shown_ = -1;
};

}  // namespace harrowgate
