// The checker's lines, table and result files.
#include "report_unit.h"

#include <algorithm>
#include <cstdio>

#include "cp1251_unit.h"
#include "format_unit.h"
#include "herdlab_toolkit.h"
#include "myProcedure_unit.h"
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
    // Appended, not concatenated: GCC 12 at -O3 takes the sum of two
    // temporaries for an overlapping copy (-Wrestrict, a false alarm). The
    // mark is a constant of its own: Clang 14 crashes on the literal here.
    constexpr std::string_view kCutMark = "…"_cp1251;
    std::string shown(kCutMark);
    shown.append(program.substr(program.size() - (kWidestProgram - 1)));
    return shown;
}

// The points a check earned: all of them when it passed, else none.
int EarnedOf(const CheckResult& result, const CheckPoints& points, int check) {
    return result.verdict == Verdict::kPassed ? points.hundredths[check] : 0;
}

// The verdict and what was seen, as the child's line says it:
// "пройдена (0 % ...)", "НЕ ПРОЙДЕНА — съел 16 порций из 15".
std::string VerdictSaid(const CheckResult& result) {
    std::string said(VerdictWord(result.verdict));
    if (!result.detail.empty()) {
        said += result.verdict == Verdict::kFailed ? " — "_cp1251 : " ("_cp1251;
        said += result.detail;
        said += result.verdict == Verdict::kFailed ? "" : ")";
    }
    return said;
}

std::string JsonString(std::string_view cp1251Text) {
    std::string out = "\"";
    for (char c : herdlab_toolkit::Utf8FromCp1251(cp1251Text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";  // the table's line ends in Gradescope's output
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
std::string JsonChild(const ChildReport& report, const CheckPoints& points) {
    std::string line = "    {\"program\": ";
    line += JsonString(report.program);
    line += ", \"commandLine\": ";
    line += JsonString(report.commandLine);
    line += ", \"passed\": ";
    line += AllPassed(report.results) ? "true" : "false";
    line += ", \"score\": ";
    line += PointsNumber(EarnedHundredths(report.results, points));
    line += ", \"maxScore\": ";
    line += PointsNumber(MostHundredths(points));
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

// UTF-8 of a Windows-1251 text for an XML attribute or element: markup
// characters escaped, control characters XML 1.0 cannot hold left out.
std::string XmlText(std::string_view cp1251Text) {
    std::string out;
    for (char c : herdlab_toolkit::Utf8FromCp1251(cp1251Text)) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                if (byte >= 0x20 || c == '\t' || c == '\n') {
                    out += c;
                }
        }
    }
    return out;
}

int CountOf(const ChildReport& report, Verdict verdict) {
    return static_cast<int>(
        std::count_if(std::begin(report.results), std::end(report.results),
                      [verdict](const CheckResult& result) { return result.verdict == verdict; }));
}

// A score and its most as JUnit properties; `indent` before the properties.
std::string JunitScore(int earned, int most, std::string_view indent) {
    std::string text(indent);
    text += "<property name=\"score\" value=\"" + PointsNumber(earned) + "\"/>";
    text += "<property name=\"max_score\" value=\"" + PointsNumber(most) + "\"/>";
    return text;
}

std::string JunitCase(const ChildReport& report, int check, const CheckPoints& points) {
    const CheckResult& result = report.results[check];
    std::string text = "    <testcase classname=\"";
    text += XmlText(report.program);
    text += "\" name=\"";
    text += CheckKey(static_cast<Check>(check));
    text += "\">\n      <properties>";
    text += JunitScore(EarnedOf(result, points, check), points.hundredths[check], "");
    text += "</properties>\n";
    if (result.verdict == Verdict::kFailed) {
        text += "      <failure message=\"" + XmlText(result.detail) + "\"/>\n";
    } else if (result.verdict == Verdict::kNotJudged) {
        text += "      <skipped message=\"" + XmlText(result.detail) + "\"/>\n";
    }
    std::string said(CheckTitle(static_cast<Check>(check)));
    said += ": ";
    said += VerdictWord(result.verdict);
    if (!result.detail.empty()) {
        said += " — "_cp1251;
        said += result.detail;
    }
    text += "      <system-out>" + XmlText(said) + "</system-out>\n    </testcase>\n";
    return text;
}

std::string JunitSuite(const ChildReport& report, const CheckPoints& points) {
    std::string text = "  <testsuite name=\"";
    text += XmlText(report.program);
    text += "\" tests=\"" + std::to_string(kCheckCount);
    text += "\" failures=\"" + std::to_string(CountOf(report, Verdict::kFailed));
    text += "\" errors=\"0\" skipped=\"" + std::to_string(CountOf(report, Verdict::kNotJudged));
    text += "\">\n    <properties>\n      <property name=\"commandLine\" value=\"";
    text += XmlText(report.commandLine);
    text += "\"/>\n";
    text += JunitScore(EarnedHundredths(report.results, points), MostHundredths(points), "      ");
    text += "\n    </properties>\n";
    for (int check = 0; check < kCheckCount; ++check) {
        text += JunitCase(report, check, points);
    }
    return text + "  </testsuite>\n";
}

}  // namespace

std::string JunitReport(int dataSet, const std::vector<ChildReport>& reports,
                        const CheckPoints& points) {
    int failures = 0;
    int skipped = 0;
    for (const ChildReport& report : reports) {
        failures += CountOf(report, Verdict::kFailed);
        skipped += CountOf(report, Verdict::kNotJudged);
    }
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"herdcheck --set ";
    xml += std::to_string(dataSet);
    xml += "\" tests=\"" + std::to_string(kCheckCount * static_cast<int>(reports.size()));
    xml += "\" failures=\"" + std::to_string(failures);
    xml += "\" errors=\"0\" skipped=\"" + std::to_string(skipped) + "\">\n";
    for (const ChildReport& report : reports) {
        xml += JunitSuite(report, points);
    }
    return xml + "</testsuites>\n";
}

std::vector<std::string> ChildReportLines(const ChildReport& report) {
    std::vector<std::string> lines;
    lines.push_back(
        FormatText("%s (командная строка: %s)"_cp1251,
                   {std::string_view(report.program), std::string_view(report.commandLine)}));
    for (int check = 0; check < kCheckCount; ++check) {
        lines.push_back(
            FormatText("  %s: %s"_cp1251, {CheckTitle(static_cast<Check>(check)),
                                           std::string_view(VerdictSaid(report.results[check]))}));
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

bool EveryChildPassed(const std::vector<ChildReport>& reports) {
    return std::all_of(reports.begin(), reports.end(),
                       [](const ChildReport& report) { return AllPassed(report.results); });
}

std::string JsonReport(int dataSet, const std::vector<ChildReport>& reports,
                       const CheckPoints& points) {
    const bool allPassed = EveryChildPassed(reports);
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
        json += ", \"points\": ";
        json += PointsNumber(points.hundredths[check]);
        json += "}";
    }
    json += "],\n  \"children\": [\n";
    for (std::size_t i = 0; i < reports.size(); ++i) {
        json += JsonChild(reports[i], points);
        json += i + 1 < reports.size() ? ",\n" : "\n";
    }
    json += "  ]\n}\n";
    return json;
}

void ShowLine(std::string_view format, std::initializer_list<FormatValue> values) {
    std::string line = FormatText(format, values);
    line += "\r\n";
    WriteConvertedText(STD_OUTPUT_HANDLE, line);  // a failed write is let go (see the header)
}

namespace {

std::string GradescopeTest(const ChildReport& report, int check, const CheckPoints& points) {
    const CheckResult& result = report.results[check];
    std::string name = report.program;
    name += ": ";
    name += CheckTitle(static_cast<Check>(check));
    std::string test = "    {\"name\": ";
    test += JsonString(name);
    test += ", \"score\": ";
    test += PointsNumber(EarnedOf(result, points, check));
    test += ", \"max_score\": ";
    test += PointsNumber(points.hundredths[check]);
    test += ", \"status\": \"";
    test += result.verdict == Verdict::kPassed ? "passed" : "failed";
    test += "\", \"output\": ";
    test += JsonString(VerdictSaid(result));
    test += "}";
    return test;
}

}  // namespace

std::string GradescopeReport(const std::vector<ChildReport>& reports, const CheckPoints& points) {
    int score = 0;
    std::string tests;
    for (const ChildReport& report : reports) {
        score += EarnedHundredths(report.results, points);
        for (int check = 0; check < kCheckCount; ++check) {
            tests += tests.empty() ? "" : ",\n";
            tests += GradescopeTest(report, check, points);
        }
    }
    std::string table;
    for (const std::string& line : TableLines(reports)) {
        table += line + "\n";
    }
    std::string json = "{\n  \"score\": ";
    json += PointsNumber(score);
    json += ",\n  \"output\": ";
    json += JsonString(table);
    json += ",\n  \"tests\": [\n";
    json += tests;
    json += "\n  ]\n}\n";
    return json;
}
