// A ticket record in a string, that can be made to fail, and that notes its writes in a list of
// calls (the fake spooler's, so that a test sees which came first).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tickets/record_file.h"

namespace korba {

class FakeRecordFile : public RecordFile {
public:
    explicit FakeRecordFile(std::vector<std::string>* calls = nullptr, std::string contents = "")
        : contents(std::move(contents)), calls_(calls) {}

    std::string contents;
    // Set: every call fails with it.
    std::optional<std::string> error;
    int replaced = 0;
    // False: the file was deleted under the bridge, until the next replace.
    bool still_in_place = true;

    Result<std::string> read() override {
        if (error) return fail(*error);
        return contents;
    }
    Status replace(std::string_view fresh) override {
        if (error) return fail(*error);
        contents = fresh;
        ++replaced;
        still_in_place = true;
        return success();
    }
    // Noted as "record T", "record J flushed", ...: the kind of line, and whether it was flushed.
    Status append(std::string_view line, bool flush) override {
        if (calls_) calls_->push_back("record " + std::string(line.substr(2, 1)) + (flush ? " flushed" : ""));
        if (error) return fail(*error);
        contents += line;
        return success();
    }
    bool in_place() override { return still_in_place; }

private:
    std::vector<std::string>* calls_;
};

}  // namespace korba
