#include "errors/mail_report.h"

namespace kestrel::errors {

std::string EncodeMailBody(std::string_view text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '%':
                encoded += "%25";
                break;
            case '&':
                encoded += "%26";
                break;
            case ';':
                encoded += "%0d%0a";
                break;
            case '#':
                encoded += "%23";
                break;
            default:
                encoded += c;
        }
    }
    return encoded;
}

std::string ErrorReportAddress(std::string_view program_path, std::string_view report) {
    return "mailto:?subject=Rapporto di errore&body=Applicazione: " + EncodeMailBody(program_path) +
           "%0d%0a%0d%0a" + EncodeMailBody(report);
}

}  // namespace kestrel::errors
