// The user's own place for named objects: the choices, their checks, and the
// report when there is none.
#include "user_place.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace winapi_internal {
namespace {

struct Choice {
    const char* variable;  // the environment variable naming the parent folder
    const char* folder;    // the place's name inside it
};
constexpr Choice kChoices[] = {{"XDG_RUNTIME_DIR", "herdlab"}, {"HOME", ".herdlab"}};

struct Place {
    char path[kPlaceCapacity + 1] = {};
    DWORD error = ERROR_SUCCESS;
};

// What is wrong with a folder: empty when nothing; `refused` when it exists
// but is not fit (as opposed to missing or out of reach).
struct Fault {
    std::string why;
    bool refused = false;
};

Fault Refused(const char* why) {
    return Fault{why, true};
}

// A parent folder must keep others from putting another place in its stead.
Fault ParentFault(const std::string& parent) {
    struct stat status;
    if (stat(parent.c_str(), &status) != 0) {
        return Fault{std::strerror(errno)};
    }
    if (!S_ISDIR(status.st_mode)) {
        return Refused("not a folder");
    }
    if (status.st_uid != geteuid() && status.st_uid != 0) {
        return Refused("belongs to another user");
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0) {
        return Refused("others may replace what it holds");
    }
    return Fault{};
}

// The place itself must be a real folder of the user's alone.
Fault PlaceFault(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
        return Fault{std::strerror(errno)};
    }
    if (!S_ISDIR(status.st_mode)) {
        return Refused("not a folder");
    }
    if (status.st_uid != geteuid()) {
        return Refused("belongs to another user");
    }
    if ((status.st_mode & 077) != 0) {
        return Refused("open to other users");
    }
    return Fault{};
}

// Makes the place with mode 0700 unless something is there already; looks
// first, since a program confined to its folders may not even try to make
// one. False with errno set.
bool MakeWhenMissing(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 || mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// Tries one choice, making its folder when missing: true with the path in
// `place`, else false with what was wrong in `report`.
bool TryChoice(const Choice& choice, Place& place, std::string& report, bool& refused) {
    const char* parentValue = std::getenv(choice.variable);
    if (parentValue == nullptr || parentValue[0] != '/') {
        report += "\n  $" + std::string(choice.variable) + " is not set to an absolute path";
        return false;
    }
    std::string parent = parentValue;
    while (parent.size() > 1 && parent.back() == '/') {
        parent.pop_back();
    }
    const std::string path = (parent == "/" ? "" : parent) + "/" + choice.folder;
    std::string faulty = parent;
    Fault fault = ParentFault(parent);
    if (path.size() > kPlaceCapacity) {
        faulty = path;
        fault = Fault{"too long for a socket address"};
    } else if (fault.why.empty()) {
        faulty = path;
        fault = MakeWhenMissing(path) ? PlaceFault(path) : Fault{std::strerror(errno)};
    }
    if (!fault.why.empty()) {
        report += "\n  " + faulty + ": " + fault.why;
        refused = refused || fault.refused;
        return false;
    }
    std::memcpy(place.path, path.c_str(), path.size() + 1);
    return true;
}

Place FindPlace() {
    Place place;
    std::string report;
    bool refused = false;
    for (const Choice& choice : kChoices) {
        if (TryChoice(choice, place, report, refused)) {
            return place;
        }
    }
    place.error = refused ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
    std::fprintf(stderr,
                 "herdlab: no folder of this user's own for thread queues and named blocks:%s\n",
                 report.c_str());
    return place;
}

}  // namespace

const char* UserPlace(DWORD& error) {
    static const Place place = FindPlace();
    error = place.error;
    return place.error == ERROR_SUCCESS ? place.path : nullptr;
}

}  // namespace winapi_internal

LPCSTR HerdlabNamedObjectFolder() {
    DWORD error = ERROR_SUCCESS;
    const char* place = winapi_internal::UserPlace(error);
    if (place == nullptr) {
        SetLastError(error);
    }
    return place;
}
