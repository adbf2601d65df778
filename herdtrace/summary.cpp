// The report after the run: a line per child, and for a herd how strongly
// the priority class decided the order in which the elephants finished.
#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "herdlab_toolkit.h"
#include "lane_states.h"

namespace herdtrace {

namespace {

// Ranks 1..n; equal values share the mean of their ranks.
std::vector<double> Ranks(const std::vector<double>& values) {
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    std::vector<double> ranks(values.size());
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i;
        while (j + 1 < order.size() && values[order[j + 1]] == values[order[i]]) {
            ++j;
        }
        const double meanRank = (double(i) + double(j)) / 2 + 1;
        for (std::size_t k = i; k <= j; ++k) {
            ranks[order[k]] = meanRank;
        }
        i = j + 1;
    }
    return ranks;
}

// Seconds from the start of the picture, one decimal, Russian comma.
std::string Seconds(Millis millis) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(millis) / 1000);
    std::string out = text;
    std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

// The text filled with blanks to `characters` columns, so the rows line up.
std::string Padded(const std::string& text, std::size_t characters) {
    // UTF-8: count the bytes that start a character.
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return count >= characters ? text : text + std::string(characters - count, ' ');
}

// The time a child was ready but got no processor: as measured, else from
// its states; -1 where neither tells.
double ReadyMilliseconds(const Lane& lane, StateSource source) {
    const bool readyRead = std::any_of(lane.cpu.begin(), lane.cpu.end(),
                                       [](const CpuSample& sample) { return sample.ready >= 0; });
    if (lane.readyMilliseconds >= 0 || source == StateSource::kNone ||
        (source == StateSource::kSampled && !readyRead)) {
        return lane.readyMilliseconds;
    }
    return TotalsOf(LaneStateSpans(lane, source)).ready;
}

// What the child's processor time was and, where known, how long it waited
// for a processor and how often it got one.
std::string ProcessorColumns(const Lane& lane, StateSource source) {
    std::string out;
    char text[64];
    if (lane.cpuMilliseconds >= 0) {
        std::snprintf(text, sizeof text, "процессор %6.0f мс  ", lane.cpuMilliseconds);
        out += text;
    }
    const double ready = ReadyMilliseconds(lane, source);
    if (ready >= 0) {
        std::snprintf(text, sizeof text, "готов %6.0f мс  ", ready);
        out += text;
    }
    if (lane.switches >= 0) {
        std::snprintf(text, sizeof text, "переключений %5lld  ", lane.switches);
        out += text;
    }
    return out;
}

// One child's row: name, class, processor time (where sampled) and how and
// when it ended, counted from the picture's start.
std::string ChildLine(const Lane& lane, Millis start, StateSource source) {
    std::string line =
        "  " + Padded(lane.name, 12) + " " +
        Padded(lane.priorityIndex >= 0 ? std::string(herdlab_toolkit::ClassWord(lane.priorityIndex))
                                       : "класс неизвестен",
               18);
    line += ProcessorColumns(lane, source);
    switch (lane.ending) {
        case Ending::kFinished:
            line += "закончил сам на " + Seconds(lane.endedAt - start) + " с";
            break;
        case Ending::kEnded:
            line += "завершён запускающим на " + Seconds(lane.endedAt - start) + " с";
            break;
        case Ending::kUnknown:
            line += "конец не виден в записи";
            break;
    }
    return line + "\n";
}

// What the correlation says about the lesson, in words a student reads. A
// negative value is the expected one: a higher class, an earlier finish.
const char* Meaning(double rho) {
    if (rho <= -0.5) {
        return "Чем выше класс приоритета, тем раньше слон закончил: процессор доставался "
               "старшим классам, младшие ждали.";
    }
    if (rho < -0.2) {
        return "Старшие классы чаще заканчивали раньше, но работа слонов различалась сильнее, "
               "чем их классы.";
    }
    if (rho <= 0.2) {
        return "Класс почти не влиял на порядок: процессора хватало всем, и порядок решала "
               "длина работы.";
    }
    return "Старшие классы заканчивали позже: классы не решали, кто получает процессор "
           "(так бывает, когда система их не соблюдает, например под Wine).";
}

// The herd's lesson as one number: Spearman's rank correlation of the
// elephants' classes with their finishing times.
std::string Correlation(const Trace& trace) {
    std::vector<double> classes;
    std::vector<double> finishes;
    for (const Lane& lane : trace.lanes) {
        if (lane.priorityIndex >= 0 && lane.endedAt != kNoTime) {
            classes.push_back(lane.priorityIndex);
            finishes.push_back(double(lane.endedAt));
        }
    }
    double rho = 0;
    if (!SpearmanCorrelation(classes, finishes, rho)) {
        return "Корреляцию класса и времени окончания не посчитать: нужны хотя бы три слона "
               "с известными разными классами и временами окончания.\n";
    }
    char text[160];
    std::snprintf(text, sizeof text, "%+.2f", rho);
    std::string value = text;
    std::replace(value.begin(), value.end(), '.', ',');
    return "Ранговая корреляция (Спирмен) класса и времени окончания: " + value + ".\n" +
           Meaning(rho) + "\n";
}

// The share of the herd's processor time each class got, highest class
// first: the lesson in one line. Nothing without processor data.
std::string ClassShares(const Trace& trace) {
    double byClass[6] = {};
    bool present[6] = {};
    double total = 0;
    for (const Lane& lane : trace.lanes) {
        if (lane.cpuMilliseconds >= 0 && lane.priorityIndex >= 0 && lane.priorityIndex < 6) {
            byClass[lane.priorityIndex] += lane.cpuMilliseconds;
            present[lane.priorityIndex] = true;
            total += lane.cpuMilliseconds;
        }
    }
    if (total <= 0) {
        return {};
    }
    std::string out = "Доля процессорного времени стада по классам:";
    const char* separator = " ";
    for (int index = 5; index >= 0; --index) {
        if (present[index]) {
            char share[32];
            std::snprintf(share, sizeof share, " %.0f %%", 100 * byClass[index] / total);
            out += separator + std::string(herdlab_toolkit::ClassWord(index)) + share;
            separator = ", ";
        }
    }
    return out + ".\n";
}

// Where the states come from, what would make them exact, and records lost.
std::string StateSourceLines(const Trace& trace) {
    if (trace.stateSource == StateSource::kNone) {
        return {};
    }
    std::string out = "  состояния — " + SourceWords(trace.stateSource) + "\n";
    if (trace.stateSource == StateSource::kSampled && !trace.exactHint.empty()) {
        out += "  " + trace.exactHint + "\n";
    }
    if (trace.lostRecords > 0) {
        out += "  потеряно записей: " + std::to_string(trace.lostRecords) +
               " (в эти промежутки состояния не известны)\n";
    }
    return out;
}

}  // namespace

bool SpearmanCorrelation(const std::vector<double>& x, const std::vector<double>& y, double& rho) {
    if (x.size() != y.size() || x.size() < 3) {
        return false;
    }
    const std::vector<double> rx = Ranks(x);
    const std::vector<double> ry = Ranks(y);
    // Pearson's correlation of the ranks, which also holds with ties.
    const double mean = (double(x.size()) + 1) / 2;  // the mean of any ranking
    double covariance = 0;
    double varianceX = 0;
    double varianceY = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        covariance += (rx[i] - mean) * (ry[i] - mean);
        varianceX += (rx[i] - mean) * (rx[i] - mean);
        varianceY += (ry[i] - mean) * (ry[i] - mean);
    }
    if (varianceX == 0 || varianceY == 0) {
        return false;
    }
    rho = covariance / std::sqrt(varianceX * varianceY);
    return true;
}

// The report printed after the picture is written.
std::string Summary(const Trace& trace) {
    std::string out = "Итог herdtrace (время от первой строки первого процесса):\n";
    out += StateSourceLines(trace);
    if (trace.lanes.empty()) {
        out += "  в записи нет строк запущенных процессов\n";
    }
    for (const Lane& lane : trace.lanes) {
        out += ChildLine(lane, trace.start, trace.stateSource);
    }
    if (trace.kind == LauncherKind::kHerd) {
        out += ClassShares(trace);
        out += Correlation(trace);
    }
    if (trace.unreadCount > 0) {
        out += "Непонятых строк: " + std::to_string(trace.unreadCount) + ".\n";
    }
    return out;
}

}  // namespace herdtrace
