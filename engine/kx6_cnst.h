// The engine's message texts. %s and %d are filled by FormatMessage.
#pragma once

#include <string>
#include <vector>

namespace tolvern {

inline constexpr const char* kMsgTargetMissing = "Target value missing for %s operation";
inline constexpr const char* kMsgSidesMismatch = "The two sides of an operation do not match";
inline constexpr const char* kMsgValueInvalid = "A %s value is required but invalid";
inline constexpr const char* kMsgUnknownName = "Field/variable %s is unknown";
inline constexpr const char* kMsgCannotEvaluate = "Expression cannot be evaluated";
inline constexpr const char* kMsgMissingParen = "Missing closing parentheses";
inline constexpr const char* kMsgVariantAppend = "Variant type is not valid for append";
inline constexpr const char* kMsgVariantCompare = "Variant types mismatch for compare";
inline constexpr const char* kMsgVariantSort = "Variant type cannot be sorted";
inline constexpr const char* kMsgSortKeyLength = "Sort key length greater than 240 bytes";
inline constexpr const char* kMsgSortAfterRetrieval =
    "Cannot add sort keys after beginning retrieval";
inline constexpr const char* kMsgTagNotFound = "Cannot find index tag %s";
inline constexpr const char* kMsgLockError = "Error %s in Lock of %s";
inline constexpr const char* kMsgFieldUnknownType = "Field '%s' is of unknown type";
inline constexpr const char* kMsgFieldUnsupported = "Field '%s' is of an unsupported type";
inline constexpr const char* kMsgFieldInFilter = "Cannot access field '%s' in a filter";
inline constexpr const char* kMsgFieldListInvalid = "Field list is invalid";
inline constexpr const char* kMsgTableNameMissing = "Table name missing";
inline constexpr const char* kMsgCannotFindFile = "Cannot find file %s";
inline constexpr const char* kMsgErrorGetting = "Error getting %s";
inline constexpr const char* kMsgIndexAlreadyOpen = "Index file %s already open";
inline constexpr const char* kMsgRecordBeyondRange = "Record request beyond range of table";
inline constexpr const char* kMsgCannotDelete = "Cannot delete the record";
inline constexpr const char* kMsgCannotRecall = "Cannot recall the record";
inline constexpr const char* kMsgBookmarkInvalid = "Bookmark is invalid for table ";
inline constexpr const char* kMsgRecordLocked = "Record is locked by another user";
inline constexpr const char* kMsgBusyIndex = "Table is busy building an index";
inline constexpr const char* kMsgBusyCopy = "Table is busy copying";
inline constexpr const char* kMsgFilterBoolean = "Filter expression must return boolean result";
inline constexpr const char* kMsgNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* kMsgNoFunction = "There is no function for %s";
inline constexpr const char* kMsgArgumentNeeded = "%s needed for Argument %d of %s";

// Fills the %s and %d placeholders of `pattern` from `args`, left to right; "%%" is a
// percent sign. Placeholders without an argument become empty.
std::string FormatMessage(const char* pattern, const std::vector<std::string>& args);

}  // namespace tolvern
