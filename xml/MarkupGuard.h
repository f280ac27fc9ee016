#pragma once

#include <cstdint>
#include <string_view>

// Counts the attributes of every start tag in a file's bytes before the parser is given them.
//
// libxml2 (2.9) checks each attribute of a start tag against all those before it, and sees a
// tag only once its closing '>' has arrived: 200,000 attributes in one tag cost it minutes.
// Scanning ahead of the parser lets the loader stop such a tag before the parser ever holds it
// whole. The scan reads raw bytes, so it is only meaningful where '<', '>', '=', quotes, '!',
// '?', '-' and ']' are the ASCII bytes themselves; the loader admits no other encoding.
//
// It follows the markup the parser accepts (start and end tags, quoted values, comments,
// processing instructions, CDATA sections, a DOCTYPE with its internal subset), across any
// split of the bytes into pieces. On malformed input its count may be off, but the parser
// refuses that input anyway.
namespace quorvane {

class MarkupGuard {
  public:
    explicit MarkupGuard(std::uint32_t maxAttributes) noexcept : max_(maxAttributes) {}

    // Scans the next bytes of the file. False once a start tag holds more than the limit of
    // attributes, and from then on.
    bool Scan(std::string_view bytes) noexcept;

  private:
    enum class State : std::uint8_t {
        Text,
        Open,      // after '<'
        Bang,      // after "<!"
        BangDash,  // after "<!-"
        StartTag,  // counting '=' outside quotes
        EndTag,
        Quoted,       // inside a quoted value; goes back to resume_
        Comment,      // until "-->"; goes back to resume_
        Cdata,        // until "]]>"; goes back to resume_
        Pi,           // until "?>"; goes back to resume_
        Declaration,  // <!DOCTYPE ...> outside its internal subset
        Subset,       // inside [ ... ] of the DOCTYPE
        SubsetOpen,
        SubsetBang,
        SubsetBangDash,
        SubsetDeclaration,
    };

    // Into a comment, CDATA section or processing instruction, which goes back to `resume`.
    void Enter(State section, State resume) noexcept;
    // Into a quoted value, which goes back to the state it was opened in.
    void EnterQuoted(char quote) noexcept;
    // After "<!-": a second '-' opens a comment that goes back to `resume`; any other byte is
    // read again as part of `declaration`. False when the byte is to be read again.
    bool AfterBangDash(char c, State resume, State declaration) noexcept;
    // One byte of a comment or CDATA section, which ends at two `closer` bytes and '>'.
    void SectionByte(char c, char closer) noexcept;

    State state_ = State::Text;
    State resume_ = State::Text;
    char quote_ = 0;
    // Consecutive '-', ']' or '?' just seen, for the ends of comments, CDATA and PIs.
    std::uint8_t run_ = 0;
    std::uint32_t attributes_ = 0;
    std::uint32_t max_;
    bool exceeded_ = false;
};

}  // namespace quorvane
