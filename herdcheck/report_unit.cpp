// The checker's lines, table and JSON.
#include "report_unit.h"

#include <algorithm>
#include <cstdio>

#include "cp1251_unit.h"
#include "format_unit.h"
#include "win32.h"

namespace {

// A program path longer than this shows its end only in the table.
constexpr std::size_t kWidestProgram = 40;
constexpr std::size_t kColumnGap = 2;

std::string_view VerdictWord(Verdict verdict) {
    switch (verdict) {
        case Verdict::kPassed:
            return "пройдена"_cp1251;
        case Verdict::kFailed:
            return "НЕ ПРОЙДЕНА"_cp1251;
        case Verdict::kNotJudged:
            break;
    }
    return "не проверена"_cp1251;
}

std::string_view VerdictCell(Verdict verdict) {
    switch (verdict) {
        case Verdict::kPassed:
            return "да"_cp1251;
        case Verdict::kFailed:
            return "НЕТ"_cp1251;
        case Verdict::kNotJudged:
            break;
    }
    return "—"_cp1251;
}

std::string_view VerdictKey(Verdict verdict) {
    switch (verdict) {
        case Verdict::kPassed:
            return "passed";
        case Verdict::kFailed:
            return "failed";
        case Verdict::kNotJudged:
            break;
    }
    return "not_judged";
}

// Windows-1251 text is one byte per character, so bytes are columns.
std::string PadRight(std::string_view text, std::size_t width) {
    std::string padded(text);
    padded.append(width > text.size() ? width - text.size() : 0, ' ');
    return padded;
}

std::string TableProgram(std::string_view program) {
    if (program.size() <= kWidestProgram) {
        return std::string(program);
    }
    return std::string("…"_cp1251) +
           std::string(program.substr(program.size() - (kWidestProgram - 1)));
}

std::string JsonString(std::string_view cp1251Text) {
    std::string out = "\"";
    for (char c : Utf8FromCp1251(cp1251Text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) about
// "literal" + std::string temporaries in optimised builds.
std::string JsonChild(const ChildReport& report) {
    std::string line = "    {\"program\": ";
    line += JsonString(report.program);
    line += ", \"commandLine\": ";
    line += JsonString(report.commandLine);
    line += ", \"passed\": ";
    line += AllPassed(report.results) ? "true" : "false";
    line += ", \"checks\": {";
    for (int check = 0; check < kCheckCount; ++check) {
        const CheckResult& result = report.results[check];
        line += check == 0 ? "\"" : ", \"";
        line += CheckKey(static_cast<Check>(check));
        line += "\": {\"result\": \"";
        line += VerdictKey(result.verdict);
        line += "\", \"detail\": ";
        line += JsonString(result.detail);
        line += "}";
    }
    line += "}}";
    return line;
}

}  // namespace

std::string Utf8FromCp1251(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    std::vector<WCHAR> wide(text.size());
    const int units = MultiByteToWideChar(1251, 0, text.data(), size, wide.data(), size);
    std::string utf8(text.size() * 3, '\0');
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    return utf8;
}

std::vector<std::string> ChildReportLines(const ChildReport& report) {
    std::vector<std::string> lines;
    lines.push_back(
        FormatText("%s (командная строка: %s)"_cp1251,
                   {std::string_view(report.program), std::string_view(report.commandLine)}));
    for (int check = 0; check < kCheckCount; ++check) {
        const CheckResult& result = report.results[check];
        std::string line = FormatText("  %s: %s"_cp1251, {CheckTitle(static_cast<Check>(check)),
                                                          VerdictWord(result.verdict)});
        if (!result.detail.empty()) {
            line += result.verdict == Verdict::kFailed ? " — "_cp1251 : " ("_cp1251;
            line += result.detail;
            line += result.verdict == Verdict::kFailed ? "" : ")";
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> TableLines(const std::vector<ChildReport>& reports) {
    std::size_t programWidth = std::string_view("программа"_cp1251).size();
    for (const ChildReport& report : reports) {
        programWidth = std::max(programWidth, TableProgram(report.program).size());
    }
    std::string heading = PadRight("программа"_cp1251, programWidth + kColumnGap);
    for (int check = 0; check < kCheckCount; ++check) {
        heading += PadRight(CheckLabel(static_cast<Check>(check)),
                            CheckLabel(static_cast<Check>(check)).size() + kColumnGap);
    }
    heading += "итог"_cp1251;
    std::vector<std::string> lines = {heading};
    for (const ChildReport& report : reports) {
        std::string row = PadRight(TableProgram(report.program), programWidth + kColumnGap);
        for (int check = 0; check < kCheckCount; ++check) {
            row += PadRight(VerdictCell(report.results[check].verdict),
                            CheckLabel(static_cast<Check>(check)).size() + kColumnGap);
        }
        row += AllPassed(report.results) ? "сдано"_cp1251 : "не сдано"_cp1251;
        lines.push_back(row);
    }
    return lines;
}

std::string JsonReport(int dataSet, const std::vector<ChildReport>& reports) {
    bool allPassed = true;
    for (const ChildReport& report : reports) {
        allPassed = allPassed && AllPassed(report.results);
    }
    std::string json = "{\n  \"dataSet\": ";
    json += std::to_string(dataSet);
    json += ",\n  \"passed\": ";
    json += allPassed ? "true" : "false";
    json += ",\n  \"checks\": [";
    for (int check = 0; check < kCheckCount; ++check) {
        json += check == 0 ? "{\"key\": \"" : ", {\"key\": \"";
        json += CheckKey(static_cast<Check>(check));
        json += "\", \"title\": ";
        json += JsonString(CheckTitle(static_cast<Check>(check)));
        json += "}";
    }
    json += "],\n  \"children\": [\n";
    for (std::size_t i = 0; i < reports.size(); ++i) {
        json += JsonChild(reports[i]);
        json += i + 1 < reports.size() ? ",\n" : "\n";
    }
    json += "  ]\n}\n";
    return json;
}
