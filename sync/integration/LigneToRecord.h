#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

class TTable;
class TXMLNodeOMB;

// Reads a head-office amount: blanks trimmed and removed, the first comma and the first full
// stop taken as the decimal mark, held in double precision, times 10,000 and rounded half to
// even. True when the text was read (an empty text reads as 0); false, with 0, otherwise.
bool TextToCurrency(const std::string& text, std::int64_t& value);

// Fills the table's new record from the line's attributes, field by field, each from the
// attribute of exactly its name. Raises the table layer's error when a value is refused; an
// amount that is not a number is refused too, rather than stored as 0.
void LigneToRecord(TTable& table, const TXMLNodeOMB& ligne);

}  // namespace quorvane
