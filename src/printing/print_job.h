// One buffer of bytes to one printer as a single RAW spooler job named "KORBA".
#pragma once

#include <string>
#include <string_view>

#include "common/result.h"
#include "printing/spooler.h"

namespace korba {

inline constexpr const char* DOCUMENT_NAME = "KORBA";
inline constexpr const char* RAW_DATATYPE = "RAW";

// The spooler's job number once it has accepted the whole job; otherwise the Spanish message.
Result<JobNumber> print_raw(const std::string& printer, std::string_view data);

}  // namespace korba
