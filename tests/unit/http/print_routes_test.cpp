#include "http/print_routes.h"

#include <gtest/gtest.h>

#include "fakes/fake_record_file.h"
#include "fakes/fake_spooler.h"
#include "http/routes.h"
#include "printing/virtual_printer.h"
#include "tickets/ticket_book.h"

namespace korba {
namespace {

using namespace std::string_literals;

HttpRequest post(std::string content_type, std::string body, std::string query = "") {
    HttpRequest request;
    request.method = "POST";
    request.content_type = std::move(content_type);
    request.body = std::move(body);
    request.query = std::move(query);
    return request;
}

const ServerConfig ACME{"ACME", 9230};

// Through the route table, which gives each printer route the printer its query names.
HttpResponse on(const char* method, const char* path, HttpRequest request, const ServerConfig& config) {
    request.method = method;
    request.path = path;
    return route_request(std::move(request), config);
}

TEST(PrintersRoute, QuotesEveryNameAndTheBridgesPrinter) {
    FakeSpooler spooler;
    spooler.printers = {u"Caja \"1\"", std::nullopt, u"ACME"};
    spooler.default_name = u"Caja \"1\"";
    const HttpResponse reply = printers_route(HttpRequest{}, ACME);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.content_type, JSON_TYPE);
    EXPECT_EQ(reply.body, R"({"ok":true,"default":"ACME","printers":["Caja \"1\"","","ACME"]})");

    FakeSpooler none;
    EXPECT_EQ(printers_route(HttpRequest{}, ServerConfig{}).body, R"({"ok":true,"default":"","printers":[]})");
    const ServerConfig with_aliases{"", 9230, {{"cocina", "Cocina \"1\""}, {"barra", "BARRA"}}};
    EXPECT_EQ(printers_route(HttpRequest{}, with_aliases).body,
              R"({"ok":true,"default":"","printers":[],"aliases":{"cocina":"Cocina \"1\"","barra":"BARRA"}})");
}

TEST(PrinterRoutes, ThePrinterParameterNamesAnAliasOfThisRunOrNothing) {
    FakeSpooler spooler;
    const ServerConfig kitchen{"CAJA", 9230, {{"cocina", "COCINA 1"}, {"barra", "BARRA"}}};
    EXPECT_EQ(on("POST", "/pulse", post("", "", "printer=barra"), kitchen).body,
              R"({"ok":true,"printer":"BARRA","pin":2})");
    EXPECT_EQ(on("POST", "/raw", post("", "AB", "printer=cocina&printer=barra"), kitchen).body,
              R"({"ok":true,"printer":"COCINA 1","bytes":2})");
    EXPECT_EQ(on("GET", "/queue", post("", "", "printer="), kitchen).body,
              R"({"ok":true,"printer":"CAJA","state":"ready","jobs":0,"reasons":[]})");
    spooler.calls.clear();
    // Never a printer of the PC by its own name, nor an alias on a bridge that has none.
    for (const char* query :
         {"printer=COCINA+1", "printer=CAJA", "printer=Cocina", "printer=cocina%20", "printer=x&printer=cocina"})
        for (const auto& [method, path] : {std::pair{"GET", "/status"},
                                           {"POST", "/raw"},
                                           {"POST", "/pulse"},
                                           {"GET", "/queue"},
                                           {"GET", "/device"}}) {
            SCOPED_TRACE(std::string(path) + "?" + query);
            const HttpResponse refused = on(method, path, post("", "AB", query), kitchen);
            EXPECT_EQ(refused.status, 400);
            EXPECT_EQ(refused.body, R"({"ok":false,"error":"impresora no configurada"})");
        }
    EXPECT_EQ(on("POST", "/raw", post("", "AB", "printer=cocina"), ACME).status, 400);
    EXPECT_EQ(spooler.calls, std::vector<std::string>{});
}

TEST(RawRoute, Base64OnlyForJsonBodies) {
    FakeSpooler json;
    const HttpResponse decoded =
        on("POST", "/raw", post("application/json; charset=utf-8", R"({ "data_b64" : "G3AA" })"), ACME);
    EXPECT_EQ(decoded.body, R"({"ok":true,"printer":"ACME","bytes":3})");
    EXPECT_EQ(json.written, "\x1Bp"s + '\0');

    FakeSpooler plain;
    const HttpResponse as_sent = on("POST", "/raw", post("text/plain", R"({"data_b64":"QUJD"})"), ACME);
    EXPECT_EQ(as_sent.body, R"({"ok":true,"printer":"ACME","bytes":19})");
    EXPECT_EQ(plain.written, R"({"data_b64":"QUJD"})");
}

TEST(RawRoute, PrintFailureTextIsPassedThrough) {
    FakeSpooler spooler;
    spooler.open_error = "Invalid printer name. (os error 1801)";
    const HttpResponse reply = on("POST", "/raw", post("", "ABC"), ServerConfig{"NO \"EXISTE\"", 9230});
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(
        reply.body,
        R"j({"ok":false,"error":"no se pudo abrir la impresora \"NO \"EXISTE\"\" (Invalid printer name. (os error 1801))"})j");
    EXPECT_EQ(on("POST", "/raw", post("", "ABC"), ServerConfig{}).body,
              R"j({"ok":false,"error":"no hay impresora configurada (usa --printer \"NOMBRE\")"})j");
}

TEST(PulseRoute, OnlyTheTextFiveMeansPinFiveAndTheQueryWins) {
    struct Case {
        std::string query;
        std::string body;
        int pin;
    };
    const Case cases[] = {
        {"", R"({"pin":5})", 5},
        {"", R"({"pin":"5"})", 5},
        {"", R"({"pin":5.0})", 5},
        {"pin=5", "", 5},
        {"pin=2", R"({"pin":5})", 2},
        {"pin=5.0", "", 2},
        {"", R"({"pin":0})", 2},
        {"", R"({"pin":2})", 2},
        {"", R"({"pin":"05"})", 2},
        {"", "{}", 2},
        {"", "", 2},
        {"", "\xFF{\"pin\":5}", 2},
        {"pin=", R"({"pin":5})", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query + " " + c.body);
        FakeSpooler spooler;
        const HttpResponse reply = on("POST", "/pulse", post("application/json", c.body, c.query), ACME);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, R"({"ok":true,"printer":"ACME","pin":)" + std::to_string(c.pin) + "}");
        EXPECT_EQ(spooler.written, std::string(c.pin == 5 ? "\x1B\x70\x01\x19\xFA" : "\x1B\x70\x00\x19\xFA", 5));
    }
}

TEST(QueueRoute, TheStateOfTheBridgesPrinterEveryReasonQuoted) {
    FakeSpooler spooler;
    spooler.state = {0x10 | 0x80, 0x400, 0, nullptr};
    spooler.job_count = 2;
    const HttpResponse reply = on("GET", "/queue", HttpRequest{}, ServerConfig{"Caja \"1\"", 9230});
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.content_type, JSON_TYPE);
    EXPECT_EQ(reply.body,
              R"({"ok":true,"printer":"Caja \"1\"","state":"offline","jobs":2,"reasons":["paper-out","offline","work-offline"]})");
    EXPECT_EQ(on("GET", "/queue", HttpRequest{}, ServerConfig{}).body,
              R"({"ok":true,"printer":"","state":"unavailable","jobs":0,"reasons":[]})");
}

std::chrono::system_clock::time_point received() {
    using namespace std::chrono;
    return sys_days{2026y / 12 / 9} + 13h + 5min + 1s;
}

TEST(PreviewRoute, TheVirtualPrintersTicketsNewestFirstWithTheirIds) {
    VirtualPrinter printer(58, received);
    use_preview_printer(&printer);
    FakeRecordFile file;
    TicketBook book(file, {received}, true);
    use_ticket_book(&book);
    const ServerConfig preview{VIRTUAL_PRINTER_NAME, 9230};
    EXPECT_EQ(on("GET", "/preview", HttpRequest{}, preview).body, R"({"ok":true,"paper":58,"tickets":[]})");
    EXPECT_EQ(on("POST", "/raw", post("application/json", R"({"data_b64":"QUJD"})"), preview).body,
              R"({"ok":true,"printer":"KORBA vista previa","bytes":3})");
    EXPECT_EQ(on("POST", "/pulse", post("", ""), preview).body,
              R"({"ok":true,"printer":"KORBA vista previa","pin":2})");
    EXPECT_EQ(on("POST", "/raw", post("", "xy", "id=caja-7"), preview).body,
              R"({"ok":true,"printer":"KORBA vista previa","bytes":2,"id":"caja-7","job":3,"repeat":false})");
    // A repeat prints nothing, so the preview keeps it once.
    EXPECT_EQ(on("POST", "/raw", post("", "xy", "id=caja-7"), preview).status, 200);
    const HttpResponse reply = on("GET", "/preview", HttpRequest{}, preview);
    use_ticket_book(nullptr);
    use_preview_printer(nullptr);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.content_type, JSON_TYPE);
    EXPECT_EQ(reply.body,
              R"({"ok":true,"paper":58,"tickets":[)"
              R"({"id":"caja-7","received":"2026-12-09T13:05:01Z","bytes":2,"data_b64":"eHk="},)"
              R"({"id":null,"received":"2026-12-09T13:05:01Z","bytes":5,"data_b64":"G3AAGfo="},)"
              R"({"id":null,"received":"2026-12-09T13:05:01Z","bytes":3,"data_b64":"QUJD"}]})");
}

HttpResponse get_tickets(std::string query) {
    HttpRequest request;
    request.query = std::move(query);
    return tickets_route(std::move(request), ACME);
}

TEST(TicketRoutes, TheRepliesOfTicketsWithAnId) {
    FakeSpooler spooler;
    spooler.next_job = 12;
    FakeRecordFile file;
    TicketBook book(file, {received});
    use_ticket_book(&book);
    const std::string ticket = R"({"ok":true,"printer":"ACME","bytes":3,"id":"t-1","job":12,"repeat":)";
    EXPECT_EQ(on("POST", "/raw", post("text/plain", "ABC", "expire=30&id=t-1&id=x"), ACME).body, ticket + "false}");
    EXPECT_EQ(on("POST", "/raw", post("application/json", R"({"data_b64":"QUJD"})", "id=t-1"), ACME).body,
              ticket + "true}");
    const HttpResponse conflict = on("POST", "/raw", post("", "ABD", "id=t-1"), ACME);
    EXPECT_EQ(conflict.status, 409);
    EXPECT_EQ(conflict.body, R"({"ok":false,"error":"el ticket t-1 ya se recibio con otro contenido"})");
    for (const char* query : {"id=a%20b", "id=", "id=a+b"}) {
        const HttpResponse refused = on("POST", "/raw", post("", "ABC", query), ACME);
        EXPECT_EQ(refused.status, 400);
        EXPECT_EQ(refused.body, R"j({"ok":false,"error":"id de ticket invalido (1 a 64 letras, cifras o . _ ~ : -)"})j");
        EXPECT_EQ(get_tickets(query).body, refused.body);
    }
    for (const char* query : {"expire=5", "id=x&expire=0", "id=x&expire=86401", "id=x&expire=", "id=x&expire=5s"}) {
        const HttpResponse refused = on("POST", "/raw", post("", "ABC", query), ACME);
        EXPECT_EQ(refused.status, 400) << query;
        EXPECT_EQ(refused.body, R"j({"ok":false,"error":"expire invalido (segundos de 1 a 86400, junto con id)"})j");
    }
    spooler.open_error = "Invalid printer name. (os error 1801)";
    EXPECT_EQ(on("POST", "/raw", post("", "ABC", "id=t-2"), ACME).status, 500);
    EXPECT_EQ(spooler.calls.size(), 8u);  // the one job of t-1, and t-2's attempt

    const std::string t1 = R"("id":"t-1","printer":"ACME","bytes":3,"job":12,"received":"2026-12-09T13:05:01Z",)"
                           R"("state":"queued","reasons":[],"error":null)";
    const std::string t2 = R"("id":"t-2","printer":"ACME","bytes":3,"job":null,"received":"2026-12-09T13:05:01Z",)"
                           R"("state":"failed","reasons":[],"error":"no se pudo abrir la impresora \"ACME\" )"
                           R"j((Invalid printer name. (os error 1801))")j";
    EXPECT_EQ(get_tickets("id=t-1").body, "{\"ok\":true," + t1 + "}");
    EXPECT_EQ(get_tickets("").body, "{\"ok\":true,\"tickets\":[{" + t2 + "},{" + t1 + "}]}");
    const HttpResponse unknown = get_tickets("id=t-3");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.body, R"({"ok":false,"error":"no hay ningun ticket con id t-3"})");

    // A job the spooler could not end may print all the same: the reply says so, the id stays taken.
    spooler.open_error.reset();
    spooler.end_doc_error = "The printer is out of paper. (os error 28)";
    const std::string uncertain = R"({"ok":false,"error":"EndDocPrinter: The printer is out of paper. (os error 28))"
                                  R"( — puede que se haya impreso)";
    EXPECT_EQ(on("POST", "/raw", post("", "ABC", "id=t-4"), ACME).body, uncertain + R"(; consulta /tickets?id=t-4"})");
    EXPECT_EQ(on("POST", "/raw", post("", "ABC"), ACME).body, uncertain + "\"}");
    spooler.end_doc_error.reset();
    EXPECT_EQ(on("POST", "/raw", post("", "ABC", "id=t-4"), ACME).body,
              R"({"ok":true,"printer":"ACME","bytes":3,"id":"t-4","job":13,"repeat":true})");
    EXPECT_EQ(book.find("t-4")->state, TicketState::Unknown);

    // Cancel: the ticket's reply after the change, or why not.
    spooler.jobs[12] = {0, 3, "none"};
    const std::string cancelled = R"({"ok":true,"id":"t-1","printer":"ACME","bytes":3,"job":12,)"
                                  R"("received":"2026-12-09T13:05:01Z","state":"cancelled","reasons":[],"error":null})";
    EXPECT_EQ(on("POST", "/tickets/cancel", post("", "", "id=t-1"), ACME).body, cancelled);
    EXPECT_EQ(on("POST", "/tickets/cancel", post("", "", "id=t-1"), ACME).body, cancelled);
    const HttpResponse too_late = on("POST", "/tickets/cancel", post("", "", "id=t-4"), ACME);
    EXPECT_EQ(too_late.status, 409);
    EXPECT_EQ(too_late.body, R"({"ok":false,"error":"el ticket t-4 ya no se puede cancelar"})");
    EXPECT_EQ(on("POST", "/tickets/cancel", post("", "", "id=t-3"), ACME).body, unknown.body);
    for (const char* query : {"", "id=", "id=a%20b"})
        EXPECT_EQ(on("POST", "/tickets/cancel", post("", "", query), ACME).status, 400) << query;
    use_ticket_book(nullptr);
}

}  // namespace
}  // namespace korba
