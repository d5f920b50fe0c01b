// The language mark of a table (header byte 29) and the code page it names: the one table
// of marks that the engine, its command-line tool and the dataset share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvern {

// The iconv name of the code page `mark` names ("CP1252" for 0x03); empty for 0 and for
// marks this table does not know.
std::string CodePageOfMark(uint8_t mark);

// The mark that names code page `name`: an iconv name such as "CP1252", "cp866",
// "WINDOWS-1251" or "IBM850" (case ignored). Where several marks name one code page, the
// one FoxPro and Visual FoxPro tables carry. Nothing when no mark names it.
std::optional<uint8_t> MarkOfCodePage(const std::string& name);

}  // namespace tolvern
