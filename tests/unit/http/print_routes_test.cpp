#include "http/print_routes.h"

#include <gtest/gtest.h>

#include "fakes/fake_spooler.h"

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
}

TEST(RawRoute, PayloadFromJsonBase64OrTheBodyAsSent) {
    struct Case {
        const char* name;
        HttpRequest request;
        std::uint16_t status;
        std::string body;
        std::string printed;
    };
    const Case cases[] = {
        {"base64 in json", post("application/json", R"({"data_b64":"QUJD"})"), 200,
         R"({"ok":true,"printer":"ACME","bytes":3})", "ABC"},
        {"json with charset", post("application/json; charset=utf-8", R"({ "data_b64" : "G3AA" })"), 200,
         R"({"ok":true,"printer":"ACME","bytes":3})", "\x1Bp"s + '\0'},
        {"plain body printed as sent", post("text/plain", R"({"data_b64":"QUJD"})"), 200,
         R"({"ok":true,"printer":"ACME","bytes":19})", R"({"data_b64":"QUJD"})"},
        {"no content type, binary body", post("", "\xFF\x00\x1B"s), 200, R"({"ok":true,"printer":"ACME","bytes":3})",
         "\xFF\x00\x1B"s},
        {"json without the field", post("application/json", "{}"), 400,
         R"({"ok":false,"error":"JSON invalido: falta data_b64"})", ""},
        {"invalid base64", post("application/json", R"({"data_b64":"QUJD!"})"), 400,
         R"({"ok":false,"error":"JSON invalido: falta data_b64"})", ""},
        {"empty base64", post("application/json", R"({"data_b64":""})"), 400, R"({"ok":false,"error":"cuerpo vacio"})",
         ""},
        {"empty body", post("", ""), 400, R"({"ok":false,"error":"cuerpo vacio"})", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSpooler spooler;
        const HttpResponse reply = raw_route(c.request, ACME);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.body, c.body);
        EXPECT_EQ(reply.content_type, JSON_TYPE);
        EXPECT_EQ(spooler.written, c.printed);
        if (c.status == 400) {
            EXPECT_TRUE(spooler.calls.empty());
        }
    }
}

TEST(RawRoute, PrintFailureTextIsPassedThrough) {
    FakeSpooler spooler;
    spooler.open_error = "Invalid printer name. (os error 1801)";
    const HttpResponse reply = raw_route(post("", "ABC"), ServerConfig{"NO \"EXISTE\"", 9230});
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(
        reply.body,
        R"j({"ok":false,"error":"no se pudo abrir la impresora \"NO \"EXISTE\"\" (Invalid printer name. (os error 1801))"})j");
    EXPECT_EQ(raw_route(post("", "ABC"), ServerConfig{}).body,
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
        const HttpResponse reply = pulse_route(post("application/json", c.body, c.query), ACME);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, R"({"ok":true,"printer":"ACME","pin":)" + std::to_string(c.pin) + "}");
        EXPECT_EQ(spooler.written, std::string(c.pin == 5 ? "\x1B\x70\x01\x19\xFA" : "\x1B\x70\x00\x19\xFA", 5));
    }
}

TEST(PulseRoute, PrintFailureIs500) {
    FakeSpooler spooler;
    spooler.write_error = "The device is not ready. (os error 21)";
    const HttpResponse reply = pulse_route(post("", ""), ACME);
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, R"j({"ok":false,"error":"WritePrinter: The device is not ready. (os error 21)"})j");
}

}  // namespace
}  // namespace korba
