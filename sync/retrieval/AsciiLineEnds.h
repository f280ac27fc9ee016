#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// Decodes the line ends of an FTP ASCII-mode data stream as the protocol defines them: a CR
// followed by LF is one line end and becomes LF; any other CR is a character of the file and
// stays. A server that turns each LF of a CR LF file into CR LF so delivers the file's own text
// (CR LF lines), where turning every CR into a line end would double each line.
class AsciiLineEndDecoder {
  public:
    // Appends the decoded chunk to out. A CR ending the chunk is held back until the next byte
    // says whether it begins a line end.
    void Decode(std::string_view chunk, std::string& out);
    // Appends what is still held back once the stream has ended.
    void Finish(std::string& out);

  private:
    bool heldCr_ = false;
};

}  // namespace quorvane
