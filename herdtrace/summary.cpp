// The report after the run: a line per child, and for a herd how strongly
// the priority class decided the order in which the elephants finished.
#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "herdlab_toolkit.h"

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

// One child's row: name, class, processor time (where sampled) and how and
// when it ended, counted from the picture's start.
std::string ChildLine(const Lane& lane, Millis start) {
    std::string line =
        "  " + Padded(lane.name, 12) + " " +
        Padded(lane.priorityIndex >= 0 ? std::string(herdlab_toolkit::ClassWord(lane.priorityIndex))
                                       : "класс неизвестен",
               18);
    if (lane.cpuMilliseconds >= 0) {
        char cpu[48];
        std::snprintf(cpu, sizeof cpu, "процессор %6.0f мс  ", lane.cpuMilliseconds);
        line += cpu;
    }
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
    if (trace.lanes.empty()) {
        out += "  в записи нет строк запущенных процессов\n";
    }
    for (const Lane& lane : trace.lanes) {
        out += ChildLine(lane, trace.start);
    }
    if (trace.kind == LauncherKind::kHerd) {
        out += Correlation(trace);
    }
    if (trace.unreadCount > 0) {
        out += "Непонятых строк: " + std::to_string(trace.unreadCount) + ".\n";
    }
    return out;
}

}  // namespace herdtrace
