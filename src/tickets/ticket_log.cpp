#include "tickets/ticket_log.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>

namespace korba {

namespace {

constexpr std::string_view VERSION = "1";
constexpr std::int64_t MAX_SECONDS = std::int64_t{1} << 40;

// Tabs and line ends inside a field (a printer's name, an error text) are escaped.
void append_field(std::string& line, std::string_view text) {
    line += '\t';
    for (const char c : text) {
        switch (c) {
            case '\\': line += "\\\\"; break;
            case '\t': line += "\\t"; break;
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            default: line += c;
        }
    }
}

std::string unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

std::string start_line(char kind, const Ticket& ticket) {
    std::string line(VERSION);
    append_field(line, std::string_view(&kind, 1));
    append_field(line, std::to_string(ticket.seq));
    return line;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : ",") + word;
    return text;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

template <class Number>
std::optional<Number> number(std::string_view text, int base = 10) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// The tickets of the record by sequence number, and whether any line did not read.
struct Reading {
    std::map<std::uint64_t, Ticket> tickets;
    bool bad_lines = false;
    bool known(std::uint64_t seq) const { return tickets.count(seq) > 0; }
};

// Nine fields: version, kind, seq, id, hash, bytes, printer, received, deadline.
bool read_arrival(const std::vector<std::string>& fields, std::uint64_t seq, Reading& reading) {
    const auto hash = number<std::uint64_t>(fields[4], 16);
    const auto bytes = number<std::uint64_t>(fields[5]);
    const auto received = number<std::int64_t>(fields[7]);
    const auto deadline = number<std::int64_t>(fields[8]);
    const std::string id = unescape(fields[3]);
    if (!hash || !bytes || !received || !deadline || (!id.empty() && !valid_ticket_id(id)))
        return false;
    // Times as the bridge writes them: never before 1970, and a deadline within its limit.
    if (*received < 0 || *received > MAX_SECONDS ||
        (*deadline != 0 && (*deadline <= *received || *deadline - *received > EXPIRE_LIMIT_SECONDS)))
        return false;
    Ticket ticket;
    ticket.seq = seq;
    if (!id.empty()) ticket.id = id;
    ticket.hash = *hash;
    ticket.bytes = *bytes;
    ticket.printer = unescape(fields[6]);
    ticket.received = *received;
    ticket.deadline = *deadline;
    ticket.settling = true;  // until its job line is read
    reading.tickets[seq] = std::move(ticket);
    return true;
}

bool read_job(const std::vector<std::string>& fields, Ticket& ticket) {
    if (fields.size() != 4) return false;
    if (!fields[3].empty()) {
        const auto job = number<JobNumber>(fields[3]);
        if (!job) return false;
        ticket.job = job;
    }
    ticket.settling = false;
    return true;
}

bool read_final(const std::vector<std::string>& fields, Ticket& ticket) {
    const std::optional<TicketState> state = fields.size() == 6 ? state_from_word(fields[3]) : std::nullopt;
    if (!state || !is_final(*state)) return false;
    ticket.state = *state;
    // Escaped as the writer escapes them; an empty word is no reason.
    ticket.reasons.clear();
    for (std::string& reason : split(unescape(fields[4]), ','))
        if (!reason.empty()) ticket.reasons.push_back(std::move(reason));
    if (!fields[5].empty()) ticket.error = unescape(fields[5]);
    ticket.settling = false;
    return true;
}

bool read_line(std::string_view line, Reading& reading) {
    const std::vector<std::string> fields = split(line, '\t');
    if (fields.size() < 4 || fields[0] != VERSION || fields[1].size() != 1) return false;
    const auto seq = number<std::uint64_t>(fields[2]);
    if (!seq) return false;
    const char kind = fields[1][0];
    if (kind == 'T') return fields.size() == 9 && !reading.known(*seq) && read_arrival(fields, *seq, reading);
    const auto found = reading.tickets.find(*seq);
    if (found == reading.tickets.end()) return false;
    if (kind == 'J') return read_job(fields, found->second);
    if (kind == 'S') return read_final(fields, found->second);
    return false;
}

}  // namespace

std::string arrival_line(const Ticket& ticket) {
    std::string line = start_line('T', ticket);
    append_field(line, ticket.id.value_or(""));
    char hash[17];
    const auto end = std::to_chars(hash, hash + 16, ticket.hash, 16).ptr;
    append_field(line, std::string_view(hash, static_cast<size_t>(end - hash)));
    append_field(line, std::to_string(ticket.bytes));
    append_field(line, ticket.printer);
    append_field(line, std::to_string(ticket.received));
    append_field(line, std::to_string(ticket.deadline));
    return line + '\n';
}

std::string job_line(const Ticket& ticket) {
    std::string line = start_line('J', ticket);
    append_field(line, ticket.job ? std::to_string(*ticket.job) : "");
    return line + '\n';
}

std::string final_line(const Ticket& ticket) {
    std::string line = start_line('S', ticket);
    append_field(line, state_word(ticket.state));
    append_field(line, joined(ticket.reasons));
    append_field(line, ticket.error.value_or(""));
    return line + '\n';
}

LoadedRecord read_record(std::string_view contents, std::int64_t now) {
    Reading reading;
    for (size_t start = 0; start < contents.size();) {
        const size_t end = contents.find('\n', start);
        // A last line without its line end was cut off as it was written.
        if (end == std::string_view::npos || !read_line(contents.substr(start, end - start), reading))
            reading.bad_lines = true;
        start = end == std::string_view::npos ? contents.size() : end + 1;
    }
    LoadedRecord loaded;
    loaded.rewrite = reading.bad_lines;
    // The window ends at the newest ticket when the clock is past it: a clock set far ahead
    // (a machine whose clock battery died) must not drop a record whose ids are still taken.
    // Tickets dated after the clock are kept.
    std::int64_t end = now;
    if (!reading.tickets.empty()) {
        std::int64_t newest = reading.tickets.begin()->second.received;
        for (const auto& [seq, ticket] : reading.tickets) newest = std::max(newest, ticket.received);
        end = std::min(now, newest);
    }
    const std::int64_t oldest = end - RECORD_DAYS * 86400;
    for (auto& [seq, ticket] : reading.tickets) {
        if (ticket.received < oldest) {
            loaded.rewrite = true;
            continue;
        }
        // Taken, but the bridge ended before the spooler answered (or the spooler gave no job
        // number): whether it printed is not known.
        if (!is_final(ticket.state) && (ticket.settling || !ticket.job)) {
            ticket.settling = false;
            ticket.state = TicketState::Unknown;
            loaded.rewrite = true;
        }
        loaded.tickets.push_back(std::move(ticket));
    }
    if (loaded.tickets.size() > RECORD_TICKETS) {
        loaded.tickets.erase(loaded.tickets.begin(), loaded.tickets.end() - RECORD_TICKETS);
        loaded.rewrite = true;
    }
    return loaded;
}

std::string write_record(const std::vector<Ticket>& tickets) {
    std::string contents;
    for (const Ticket& ticket : tickets) {
        contents += arrival_line(ticket);
        // One still with the spooler gets its job line when the spooler answers.
        if (!ticket.settling && (ticket.job || !ticket.error)) contents += job_line(ticket);
        if (is_final(ticket.state)) contents += final_line(ticket);
    }
    return contents;
}

}  // namespace korba
