#include "http/system_routes.h"

#include <gtest/gtest.h>

#include "fakes/fake_process_runner.h"
#include "fakes/fake_spooler.h"
#include "panel/panel.h"
#include "windows/autostart.h"

namespace korba {
namespace {

const std::string REG_ADD = "\"reg\" add ";
const std::string REG_DELETE = "\"reg\" delete ";

HttpRequest post(std::string body, std::string query = "") {
    HttpRequest request;
    request.method = "POST";
    request.body = std::move(body);
    request.query = std::move(query);
    return request;
}

std::string quoted_exe() { return json_string(current_exe_path()); }

TEST(StatusRoute, ReportsPrinterAutostartAndProgram) {
    FakeSpooler spooler;
    FakeProcessRunner runner;
    runner.will_return(FakeProcessRunner::exited(0));
    const ServerConfig caja{"Caja \"1\"", 9230};
    const HttpResponse reply = get_status(HttpRequest{}, caja, caja.main_printer());
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.content_type, JSON_TYPE);
    EXPECT_EQ(reply.body,
              R"({"ok":true,"app":"korba-vizoza","version":"1.5.0","printer":"Caja \"1\"","printer_ok":true,)"
              R"("port":9230,"startup":true,"exe":)" +
                  quoted_exe() + "}");

    spooler.open_error = "no existe";
    runner.will_fail_to_start("program not found");
    const ServerConfig acme{"ACME", 1};
    EXPECT_EQ(get_status(HttpRequest{}, acme, acme.main_printer()).body,
              R"({"ok":true,"app":"korba-vizoza","version":"1.5.0","printer":"ACME","printer_ok":false,)"
              R"("port":1,"startup":false,"exe":)" +
                  quoted_exe() + "}");
}

TEST(StartupRoute, TheBodyWinsOverTheQuery) {
    struct Case {
        const char* name;
        HttpRequest request;
        std::string first_command;
    };
    const Case cases[] = {
        {"body enables over the query", post(R"({"enable":1})", "enable=0"), REG_ADD},
        {"body disables over the query", post(R"({"enable":0})", "enable=1"), REG_DELETE},
        {"query when the body has none", post("{}", "enable=1"), REG_ADD},
        {"a text 1 enables", post(R"({"enable":"1"})"), REG_ADD},
        {"anything but 1 disables", post(R"({"enable":"01"})"), REG_DELETE},
        {"a body that is not UTF-8 is not searched", post("{\"enable\":0}\xff", "enable=1"), REG_ADD},
    };
    for (const Case& c : cases) {
        FakeProcessRunner runner;
        (void)post_startup(c.request, ServerConfig{});
        ASSERT_FALSE(runner.calls().empty()) << c.name;
        EXPECT_EQ(runner.calls()[0].command_line.substr(0, c.first_command.size()), c.first_command) << c.name;
    }
}

TEST(StartupRoute, AnswersWithTheStateReadBack) {
    FakeProcessRunner runner;
    runner.will_return(FakeProcessRunner::exited(0));  // add
    runner.will_return(FakeProcessRunner::exited(0));  // verification
    runner.will_return(FakeProcessRunner::exited(0));  // read back
    const HttpResponse reply = post_startup(post(R"({"enable":1})"), ServerConfig{});
    const std::optional<std::string> warning = exe_location_warning();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.content_type, JSON_TYPE);
    EXPECT_EQ(reply.body, R"({"ok":true,"startup":true,"exe":)" + quoted_exe() + R"(,"warning":)" +
                              (warning ? json_string(*warning) : "null") + "}");
    EXPECT_EQ(runner.calls().size(), 3u);
}

TEST(StartupRoute, RefusesAMissingValueAndPassesFailuresThrough) {
    FakeProcessRunner runner;
    for (const HttpRequest& request : {post(""), post(R"({"enable":true})"), post("{}", "x=1")}) {
        const HttpResponse reply = post_startup(request, ServerConfig{});
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(reply.body, "{\"ok\":false,\"error\":\"falta enable (1/0)\"}");
    }
    EXPECT_TRUE(runner.calls().empty());

    runner.will_fail_to_start("program not found");
    const HttpResponse reply = post_startup(post(R"({"enable":1})"), ServerConfig{});
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.content_type, JSON_TYPE);
    EXPECT_EQ(reply.body, R"({"ok":false,"error":"program not found"})");
    EXPECT_EQ(runner.calls().size(), 1u);
}

TEST(PanelRoute, ServesThePageAsHtml) {
    const HttpResponse reply = serve_panel(HttpRequest{}, ServerConfig{});
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.content_type, "text/html; charset=utf-8");
    EXPECT_EQ(reply.body, panel_html());
    EXPECT_EQ(reply.extra_headers,
              (Headers{{"X-Frame-Options", "DENY"}, {"Content-Security-Policy", "frame-ancestors 'none'"}}));
    EXPECT_NE(reply.body.find("<html lang=\"es\">"), std::string::npos);
}

}  // namespace
}  // namespace korba
