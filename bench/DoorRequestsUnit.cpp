#include "DoorRequestsUnit.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace DoorRequests {
namespace {

std::string Element(const std::string& name, const std::string& value)
{
    return "    <" + name + ">" + value + "</" + name + ">\n";
}

std::string Request(const std::string& type, const std::string& children)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DoorRequest type=\"" + type + "\">\n" +
           children + "</DoorRequest>\n";
}

} // namespace

std::string ReadCard()
{
    return Request("ReadCard", Element("RequestID", "bench"));
}

std::string EraseCard()
{
    return Request("EraseCard", Element("RequestID", "bench"));
}

std::string IssueCard(int roomIndex)
{
    char room[16];
    std::snprintf(room, sizeof room, "%04d", 801 + roomIndex);
    char registration[16];
    std::snprintf(registration, sizeof registration, "B%06d", roomIndex);
    // Positions 0 to 10; the stay lies in the future so the card end is always valid.
    return Request("IssueCard",
                   Element("RequestID", "bench") + Element("RegisterId", registration) +
                       Element("BuildingCode", "01") + Element("FloorCode", "08") +
                       Element("RoomNo", room) +
                       Element("GuestName", "Bench Guest \xE5\xBC\xA0\xE4\xB8\x89") +
                       Element("CheckInDate", "2030-03-05") + Element("CheckInTime", "14:00:00") +
                       Element("CheckOutDate", "2030-03-07") + Element("CheckOutTime", "12:00:00") +
                       Element("IsCopy", "0"));
}

std::vector<std::string> ForType(const std::string& type, int rooms)
{
    if (type == "ReadCard")
        return {ReadCard()};
    if (type == "EraseCard")
        return {EraseCard()};
    if (type == "IssueCard") {
        std::vector<std::string> texts;
        for (int i = 0; i < std::max(rooms, 1); ++i)
            texts.push_back(IssueCard(i));
        return texts;
    }
    throw std::invalid_argument("unknown request type '" + type +
                                "' (ReadCard, IssueCard or EraseCard)");
}

} // namespace DoorRequests
