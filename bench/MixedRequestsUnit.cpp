#include "MixedRequestsUnit.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace MixedRequests {
namespace {

// Line breaks vary on purpose: the log keeps a request whole, CR LF inside it included.
std::string Element(const std::string& name, const std::string& value, const char* lineBreak)
{
    return "    <" + name + ">" + value + "</" + name + ">" + lineBreak;
}

std::string IssueCard(int room, bool copy, const std::string& checkIn, int positions)
{
    const char* lineBreak = copy ? "\r\n" : "\n";
    char roomNo[16];
    std::snprintf(roomNo, sizeof roomNo, "%04d", 801 + room);
    char registration[16];
    std::snprintf(registration, sizeof registration, "F%06d", room);
    const std::vector<std::pair<std::string, std::string>> children = {
        {"RequestID", "faults"},
        {"RegisterId", registration},
        {"BuildingCode", "01"},
        {"FloorCode", "08"},
        {"RoomNo", roomNo},
        {"GuestName", "Fault Guest \xE5\xBC\xA0\xE4\xB8\x89"},
        {"CheckInDate", checkIn},
        {"CheckInTime", "14:00:00"},
        {"CheckOutDate", "2030-03-07"},
        {"CheckOutTime", "12:00:00"},
        {"IsCopy", copy ? "1" : "0"}};
    std::string text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + lineBreak +
                       "<DoorRequest type=\"IssueCard\">" + lineBreak;
    for (int i = 0; i < positions; ++i)
        text += Element(children[std::size_t(i)].first, children[std::size_t(i)].second, lineBreak);
    return text + "</DoorRequest>" + lineBreak;
}

std::string Simple(const std::string& type)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DoorRequest type=\"" + type +
           "\">\n    <RequestID>faults</RequestID>\n</DoorRequest>\n";
}

} // namespace

std::vector<TKind> Kinds(int rooms)
{
    TKind issueNew{"new", true, true, {}, 16};
    TKind issueCopy{"copy", true, true, {}, 8};
    for (int room = 0; room < std::max(rooms, 1); ++room) {
        issueNew.Texts.push_back(IssueCard(room, false, "2030-03-05", 11));
        issueCopy.Texts.push_back(IssueCard(room, true, "2030-03-05", 11));
    }
    TKind bad{"bad", false, false, {}, 12};
    bad.Texts = {
        "<DoorRequest type=\"ReadCard\"><RequestID>faults</RequestID></Door>",
        "<DoorRequest type=\"readcard\"><RequestID>faults</RequestID></DoorRequest>",
        IssueCard(0, false, "2030-03-05", 10),
        IssueCard(1, false, "2030-13-45", 11),
    };
    return {issueNew,
            issueCopy,
            {"read", true, false, {Simple("ReadCard")}, 16},
            {"erase", true, false, {Simple("EraseCard")}, 12},
            bad};
}

void ApplyMix(std::vector<TKind>& kinds, const std::string& mix)
{
    for (TKind& kind : kinds)
        kind.Share = 0;
    std::size_t begin = 0;
    while (begin < mix.size()) {
        std::size_t end = mix.find(',', begin);
        if (end == std::string::npos)
            end = mix.size();
        const std::string item = mix.substr(begin, end - begin);
        begin = end + 1;
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos)
            throw std::invalid_argument("--mix needs name=connections, not '" + item + "'");
        const std::string name = item.substr(0, equals);
        int share = -1;
        const char* first = item.data() + equals + 1;
        const char* last = item.data() + item.size();
        const auto [at, error] = std::from_chars(first, last, share);
        if (error != std::errc() || at != last || share < 0 || share > 4096)
            throw std::invalid_argument("--mix: '" + item + "' needs 0 to 4096 connections");
        bool found = false;
        for (TKind& kind : kinds) {
            if (kind.Name == name) {
                kind.Share = share;
                found = true;
            }
        }
        if (!found)
            throw std::invalid_argument("--mix: unknown kind '" + name +
                                        "' (new, copy, read, erase, bad)");
    }
}

} // namespace MixedRequests
