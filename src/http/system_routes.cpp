#include "http/system_routes.h"

#include <optional>
#include <string>
#include <vector>

#include "common/constants.h"
#include "common/text.h"
#include "http/fields.h"
#include "panel/panel.h"
#include "printing/printers.h"
#include "windows/autostart.h"
#include "windows/install_dir.h"

namespace korba {

namespace {

const char* json_bool(bool value) { return value ? "true" : "false"; }

HttpResponse json_reply(std::string body) { return {200, JSON_TYPE, std::move(body), {}}; }

}  // namespace

HttpResponse serve_panel(HttpRequest, const ServerConfig&) {
    // No other page may show the panel in a frame: under a decoy it would click the panel's own
    // buttons, with the panel's admitted origin.
    return {200,
            HTML_TYPE,
            std::string(panel_html()),
            {{"X-Frame-Options", "DENY"}, {"Content-Security-Policy", "frame-ancestors 'none'"}}};
}

HttpResponse get_status(HttpRequest, const ServerConfig& config, const PrinterEntry& printer) {
    const bool printer_ok = printer_accessible(printer.name);
    const bool startup = autostart_enabled();
    return json_reply(std::string("{\"ok\":true,\"app\":\"") + APP_ID + "\",\"version\":" + json_string(APP_VERSION) +
                      ",\"printer\":" + json_string(printer.name) + ",\"printer_ok\":" + json_bool(printer_ok) +
                      ",\"port\":" + std::to_string(config.port) + ",\"startup\":" + json_bool(startup) +
                      ",\"exe\":" + json_string(current_exe_path()) + "}");
}

HttpResponse get_startup(HttpRequest, const ServerConfig&) {
    return json_reply(std::string("{\"ok\":true,\"startup\":") + json_bool(autostart_enabled()) +
                      ",\"switchable\":" + json_bool(SELF_INSTALL_AVAILABLE) + "}");
}

HttpResponse post_startup(HttpRequest request, const ServerConfig& config) {
    // Here the body wins over the query.
    std::optional<std::string> value;
    if (is_valid_utf8(request.body)) value = json_field(request.body, "enable");
    if (!value) value = query_param(request.query, "enable");
    if (!value) return {400, JSON_TYPE, json_error_body("falta enable (1/0)"), {}};

    const std::vector<std::string> options = autostart_options(config.printer_option, config.aliases());
    if (Status changed = set_autostart(*value == "1", options); !changed)
        return {500, JSON_TYPE, json_error_body(changed.error()), {}};
    const bool startup = autostart_enabled();
    const std::optional<std::string> warning = exe_location_warning();
    return json_reply(std::string("{\"ok\":true,\"startup\":") + json_bool(startup) +
                      ",\"exe\":" + json_string(current_exe_path()) +
                      ",\"warning\":" + (warning ? json_string(*warning) : "null") + "}");
}

}  // namespace korba
