#include "http/print_routes.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "http/fields.h"
#include "printing/device_query.h"
#include "printing/drawer.h"
#include "printing/print_job.h"
#include "printing/printers.h"
#include "printing/queue_state.h"
#include "printing/virtual_printer.h"
#include "tickets/ticket_book.h"

namespace korba {

namespace {

constexpr const char* BAD_ID = "id de ticket invalido (1 a 64 letras, cifras o . _ ~ : -)";
constexpr const char* BAD_EXPIRE = "expire invalido (segundos de 1 a 86400, junto con id)";

HttpResponse json_ok(std::string body) { return {200, JSON_TYPE, std::move(body), {}}; }

// A ticket's id and deadline from the query, each read as written, the first of each name.
struct TicketParams {
    std::optional<std::string> id;
    std::int64_t expire = 0;
};

std::optional<std::string_view> ticket_params(const HttpRequest& request, TicketParams& params) {
    params.id = query_param(request.query, "id");
    if (params.id && !valid_ticket_id(*params.id)) return BAD_ID;
    if (const std::optional<std::string> expire = query_param(request.query, "expire")) {
        const std::optional<std::int64_t> seconds = parse_expire(*expire);
        if (!seconds || !params.id) return BAD_EXPIRE;
        params.expire = *seconds;
    }
    return std::nullopt;
}

std::string job_number(const Ticket& ticket) { return ticket.job ? std::to_string(*ticket.job) : "null"; }

// JSON bodies carry Base64 in data_b64, decoded over the body itself; any other body is the
// printer's bytes as sent.
std::optional<std::string_view> raw_payload(HttpRequest& request) {
    if (request.content_type.find("application/json") == std::string::npos) return request.body;
    return base64_field(request.body, "data_b64");
}

// The query wins over the body; only the exact text "5" means pin 5.
DrawerPin pulse_pin(HttpRequest& request) {
    std::optional<std::string> value = query_param(request.query, "pin");
    if (!value && is_valid_utf8(request.body)) value = json_field(request.body, "pin");
    return value == "5" ? DrawerPin::Pin5 : DrawerPin::Pin2;
}

std::string json_list(const std::vector<std::string>& texts) {
    std::string list;
    for (const std::string& text : texts) {
        if (!list.empty()) list += ',';
        list += json_string(text);
    }
    return "[" + list + "]";
}

}  // namespace

HttpResponse json_error(std::uint16_t status, std::string_view message) {
    return {status, JSON_TYPE, json_error_body(message), {}};
}

const PrinterEntry* requested_printer(std::string_view query, const ServerConfig& config) {
    const std::optional<std::string> wanted = query_param(query, "printer");
    if (!wanted || wanted->empty()) return &config.main_printer();
    for (const PrinterEntry& entry : config.aliases())
        if (entry.alias == *wanted) return &entry;
    return nullptr;
}

HttpResponse printers_route(HttpRequest, const ServerConfig& config) {
    std::string body = "{\"ok\":true,\"default\":" + json_string(config.main_printer().name) +
                       ",\"printers\":" + json_list(list_printers());
    if (config.printers.size() > 1) {
        std::string aliases;
        for (const PrinterEntry& entry : config.aliases())
            aliases += (aliases.empty() ? "" : ",") + json_string(entry.alias) + ":" + json_string(entry.name);
        body += ",\"aliases\":{" + aliases + "}";
    }
    return json_ok(body + "}");
}

HttpResponse raw_route(HttpRequest request, const ServerConfig&, const PrinterEntry& printer) {
    TicketParams params;
    if (const std::optional<std::string_view> refused = ticket_params(request, params)) return json_error(400, *refused);
    const std::optional<std::string_view> payload = raw_payload(request);
    if (!payload) return json_error(400, "JSON invalido: falta data_b64");
    if (payload->empty()) return json_error(400, "cuerpo vacio");
    const Submission done = ticket_book()->submit({params.id, params.expire, printer.name, *payload});
    const Ticket& ticket = done.ticket;
    switch (done.outcome) {
        case Outcome::PrintFailed:
        case Outcome::RecordFailed: return json_error(500, done.message);
        case Outcome::MaybePrinted:
            return json_error(500, done.message + " — puede que se haya impreso" +
                                       (params.id ? "; consulta /tickets?id=" + *params.id : ""));
        case Outcome::Conflict: return json_error(409, "el ticket " + *params.id + " ya se recibio con otro contenido");
        case Outcome::Printed:
        case Outcome::Repeat: break;
    }
    std::string body = "{\"ok\":true,\"printer\":" + json_string(ticket.printer) +
                       ",\"bytes\":" + std::to_string(ticket.bytes);
    if (params.id)
        body += ",\"id\":" + json_string(*params.id) + ",\"job\":" + job_number(ticket) +
                ",\"repeat\":" + (done.outcome == Outcome::Repeat ? "true" : "false");
    return json_ok(body + "}");
}

HttpResponse pulse_route(HttpRequest request, const ServerConfig&, const PrinterEntry& printer) {
    const DrawerPin pin = pulse_pin(request);
    if (const auto printed = print_raw(printer.name, drawer_pulse(pin)); !printed)
        return json_error(500, printed.error());
    return json_ok("{\"ok\":true,\"printer\":" + json_string(printer.name) +
                   ",\"pin\":" + (pin == DrawerPin::Pin5 ? "5" : "2") + "}");
}

HttpResponse queue_route(HttpRequest, const ServerConfig&, const PrinterEntry& printer) {
    const QueueState queue = read_queue_state(printer.name);
    return json_ok("{\"ok\":true,\"printer\":" + json_string(printer.name) + ",\"state\":\"" + queue.state +
                   "\",\"jobs\":" + std::to_string(queue.jobs) + ",\"reasons\":" + json_list(queue.reasons) + "}");
}

HttpResponse device_route(HttpRequest, const ServerConfig&, const PrinterEntry& printer) {
    const DeviceReport device = read_device(printer.name);
    const DeviceStatus* status = device.status ? &*device.status : nullptr;
    auto word = [status](const std::string DeviceStatus::*field) {
        return status ? json_string(status->*field) : std::string("null");
    };
    return json_ok("{\"ok\":true,\"printer\":" + json_string(printer.name) + ",\"address\":" +
                   (device.address ? json_string(*device.address) : "null") + ",\"state\":\"" + device.state +
                   "\",\"paper\":" + word(&DeviceStatus::paper) + ",\"cover\":" + word(&DeviceStatus::cover) +
                   ",\"drawer_signal\":" + word(&DeviceStatus::drawer_signal) +
                   ",\"errors\":" + json_list(status ? status->errors : std::vector<std::string>()) + "}");
}

namespace {

// The fields of one ticket, without braces.
std::string ticket_fields(const Ticket& ticket) {
    const std::chrono::system_clock::time_point received{std::chrono::seconds(ticket.received)};
    return "\"id\":" + (ticket.id ? json_string(*ticket.id) : std::string("null")) +
           ",\"printer\":" + json_string(ticket.printer) + ",\"bytes\":" + std::to_string(ticket.bytes) +
           ",\"job\":" + job_number(ticket) + ",\"received\":\"" + utc_timestamp(received) + "\",\"state\":\"" +
           state_word(ticket.state) + "\",\"reasons\":" + json_list(ticket.reasons) +
           ",\"error\":" + (ticket.error ? json_string(*ticket.error) : std::string("null"));
}

HttpResponse one_ticket(const Ticket& ticket) { return json_ok("{\"ok\":true," + ticket_fields(ticket) + "}"); }

HttpResponse no_ticket(const std::string& id) { return json_error(404, "no hay ningun ticket con id " + id); }

}  // namespace

HttpResponse tickets_route(HttpRequest request, const ServerConfig&) {
    const TicketBook& book = *ticket_book();
    const std::optional<std::string> id = query_param(request.query, "id");
    if (!id) {
        std::string body = "{\"ok\":true,\"tickets\":[";
        for (const Ticket& ticket : book.newest(LISTED_TICKETS))
            body += (body.back() == '[' ? "{" : ",{") + ticket_fields(ticket) + "}";
        return json_ok(body + "]}");
    }
    if (!valid_ticket_id(*id)) return json_error(400, BAD_ID);
    const std::optional<Ticket> ticket = book.find(*id);
    if (!ticket) return no_ticket(*id);
    return one_ticket(*ticket);
}

HttpResponse cancel_route(HttpRequest request, const ServerConfig&) {
    const std::optional<std::string> id = query_param(request.query, "id");
    if (!id || !valid_ticket_id(*id)) return json_error(400, BAD_ID);
    const Cancellation done = ticket_book()->cancel(*id);
    switch (done.outcome) {
        case CancelOutcome::NoSuchTicket:
            return no_ticket(*id);
        case CancelOutcome::TooLate:
            return json_error(409, "el ticket " + *id + " ya no se puede cancelar");
        case CancelOutcome::Cancelled:
            break;
    }
    return one_ticket(done.ticket);
}

HttpResponse preview_route(HttpRequest, const ServerConfig&, const PrinterEntry& entry) {
    const VirtualPrinter& printer = *preview_printer();
    const std::vector<PreviewTicket> tickets = printer.tickets(entry.name);
    // The virtual printer knows a ticket by its job number, the book knows its id: the kept
    // tickets are among the newest the book has.
    std::map<JobNumber, std::string> ids;
    for (const Ticket& ticket : ticket_book()->newest(PREVIEW_TICKETS))
        if (ticket.id && ticket.job) ids.emplace(*ticket.job, *ticket.id);
    size_t size = 64;
    for (const PreviewTicket& ticket : tickets) size += 160 + ticket.data->size() / 3 * 4 + 4;
    std::string body;
    body.reserve(size);
    body += "{\"ok\":true,\"paper\":" + std::to_string(printer.paper()) + ",\"tickets\":[";
    for (const PreviewTicket& ticket : tickets) {
        if (&ticket != &tickets.front()) body += ',';
        const auto id = ids.find(ticket.job);
        body += "{\"id\":" + (id == ids.end() ? std::string("null") : json_string(id->second)) +
                ",\"received\":\"" + utc_timestamp(ticket.received) +
                "\",\"bytes\":" + std::to_string(ticket.data->size()) + ",\"data_b64\":\"";
        append_base64(body, *ticket.data);
        body += "\"}";
    }
    body += "]}";
    return json_ok(std::move(body));
}

}  // namespace korba
