#include "app/elevated_relaunch.h"

#include <vector>

#include "common/constants.h"
#include "common/text.h"
#include "windows/command_runner.h"
#include "windows/file_system.h"
#include "windows/win_command_line.h"

namespace korba {

namespace {

// --install acts the moment it is read, so the settings it needs come before it.
std::vector<std::string> install_arguments(const std::string& printer, std::uint16_t port,
                                           std::span<const PrinterEntry> aliases) {
    std::vector<std::string> args;
    if (!printer.empty()) args.insert(args.end(), {"--printer", printer});
    for (std::string& option : printer_options("", aliases)) args.push_back(std::move(option));
    if (port != DEFAULT_PORT) args.insert(args.end(), {"--port", std::to_string(port)});
    args.push_back("--install");
    return args;
}

bool is_single_quote(char32_t c) { return c == U'\'' || (c >= U'\u2018' && c <= U'\u201B'); }

// PowerShell ends a single-quoted string at any of its five single quotes; doubled, each one is literal.
std::string single_quoted(const std::string& text) {
    std::string quoted = "'";
    for (size_t pos = 0; pos < text.size();) {
        const size_t start = pos;
        const char32_t c = next_code_point(text, pos);
        const std::string_view piece = std::string_view(text).substr(start, pos - start);
        quoted += piece;
        if (is_single_quote(c)) quoted += piece;
    }
    return quoted + "'";
}

}  // namespace

std::string elevation_script(const std::string& program, const std::string& printer, std::uint16_t port,
                             std::span<const PrinterEntry> aliases) {
    // Start-Process joins the list with plain spaces, so each element carries its own Windows
    // quoting: a printer name with spaces must reach the elevated copy as one argument.
    std::string list;
    for (const std::string& arg : install_arguments(printer, port, aliases)) {
        if (!list.empty()) list += ',';
        list += single_quoted(quote_argument(arg));
    }
    return "try { $p = Start-Process -FilePath " + single_quoted(quote_argument(program)) + " -ArgumentList @(" + list +
           ") -Verb RunAs -Wait -PassThru; exit $p.ExitCode } catch { exit 1223 }";
}

RelaunchResult relaunch_elevated(const std::string& printer, std::uint16_t port,
                                 std::span<const PrinterEntry> aliases) {
    const std::string script = elevation_script(file_system().running_program(), printer, port, aliases);
    const Result<CommandOutput> run =
        run_command("powershell", {{"-NoProfile"}, {"-ExecutionPolicy"}, {"Bypass"}, {"-Command"}, {script}});
    if (!run) return {RelaunchStatus::Failed, "no puedo relanzar con permisos: " + run.error()};
    const std::uint32_t code = run.value().exit_code;
    if (code == ELEVATION_REFUSED) return {RelaunchStatus::Cancelled, ""};
    if (code == 0) return {RelaunchStatus::Done, ""};
    const std::string detail(trim_white_space(decode_output(run.value().stderr_bytes)));
    return {RelaunchStatus::Failed, "el relanzamiento con permisos falló (código " +
                                        std::to_string(static_cast<std::int32_t>(code)) + "): " + detail};
}

}  // namespace korba
