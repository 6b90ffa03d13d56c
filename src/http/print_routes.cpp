#include "http/print_routes.h"

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

namespace korba {

namespace {

HttpResponse json_ok(std::string body) { return {200, JSON_TYPE, std::move(body), {}}; }

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

HttpResponse printers_route(HttpRequest, const ServerConfig& config) {
    return json_ok("{\"ok\":true,\"default\":" + json_string(config.printer) +
                   ",\"printers\":" + json_list(list_printers()) + "}");
}

HttpResponse raw_route(HttpRequest request, const ServerConfig& config) {
    const std::optional<std::string_view> payload = raw_payload(request);
    if (!payload) return {400, JSON_TYPE, json_error_body("JSON invalido: falta data_b64"), {}};
    if (payload->empty()) return {400, JSON_TYPE, json_error_body("cuerpo vacio"), {}};
    if (Status printed = print_raw(config.printer, *payload); !printed)
        return {500, JSON_TYPE, json_error_body(printed.error()), {}};
    return json_ok("{\"ok\":true,\"printer\":" + json_string(config.printer) +
                   ",\"bytes\":" + std::to_string(payload->size()) + "}");
}

HttpResponse pulse_route(HttpRequest request, const ServerConfig& config) {
    const DrawerPin pin = pulse_pin(request);
    if (Status printed = print_raw(config.printer, drawer_pulse(pin)); !printed)
        return {500, JSON_TYPE, json_error_body(printed.error()), {}};
    return json_ok("{\"ok\":true,\"printer\":" + json_string(config.printer) +
                   ",\"pin\":" + (pin == DrawerPin::Pin5 ? "5" : "2") + "}");
}

HttpResponse queue_route(HttpRequest, const ServerConfig& config) {
    const QueueState queue = read_queue_state(config.printer);
    return json_ok("{\"ok\":true,\"printer\":" + json_string(config.printer) + ",\"state\":\"" + queue.state +
                   "\",\"jobs\":" + std::to_string(queue.jobs) + ",\"reasons\":" + json_list(queue.reasons) + "}");
}

HttpResponse device_route(HttpRequest, const ServerConfig& config) {
    const DeviceReport device = read_device(config.printer);
    const DeviceStatus* status = device.status ? &*device.status : nullptr;
    auto word = [status](const std::string DeviceStatus::*field) {
        return status ? json_string(status->*field) : std::string("null");
    };
    return json_ok("{\"ok\":true,\"printer\":" + json_string(config.printer) +
                   ",\"address\":" + (device.address ? json_string(*device.address) : "null") + ",\"state\":\"" + device.state +
                   "\",\"paper\":" + word(&DeviceStatus::paper) + ",\"cover\":" + word(&DeviceStatus::cover) +
                   ",\"drawer_signal\":" + word(&DeviceStatus::drawer_signal) +
                   ",\"errors\":" + json_list(status ? status->errors : std::vector<std::string>()) + "}");
}

HttpResponse preview_route(HttpRequest, const ServerConfig&) {
    const VirtualPrinter& printer = *preview_printer();
    const std::vector<PreviewTicket> tickets = printer.tickets();
    size_t size = 64;
    for (const PreviewTicket& ticket : tickets) size += 96 + ticket.data->size() / 3 * 4 + 4;
    std::string body;
    body.reserve(size);
    body += "{\"ok\":true,\"paper\":" + std::to_string(printer.paper()) + ",\"tickets\":[";
    for (const PreviewTicket& ticket : tickets) {
        if (&ticket != &tickets.front()) body += ',';
        body += "{\"id\":null,\"received\":\"" + utc_timestamp(ticket.received) +
                "\",\"bytes\":" + std::to_string(ticket.data->size()) + ",\"data_b64\":\"";
        append_base64(body, *ticket.data);
        body += "\"}";
    }
    body += "]}";
    return json_ok(std::move(body));
}

}  // namespace korba
