// One buffer of bytes to one printer as a single RAW spooler job named "KORBA".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "printing/spooler.h"

namespace korba {

inline constexpr const char* DOCUMENT_NAME = "KORBA";
inline constexpr const char* RAW_DATATYPE = "RAW";

// The spooler's job number once it has accepted the whole job; otherwise the Spanish message.
// `maybe_printed`, when given, gets the job's number when the failure came after the spooler had
// numbered the job and it is not certain that no part of it prints: the spooler had taken some of
// its bytes, could not end it, or did not confirm its deletion.
Result<JobNumber> print_raw(const std::string& printer, std::string_view data,
                            std::optional<JobNumber>* maybe_printed = nullptr);

}  // namespace korba
