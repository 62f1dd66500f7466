#pragma once

#include <string>
#include <vector>

// The requests the load generator sends when no request file is given, laid out as a hotel
// system sends them (UTF-8, without the terminating NUL). Pure functions; thread-safe.
namespace DoorRequests {

std::string ReadCard();
std::string EraseCard();
// A new card for one room of a small hotel: room number 0801 + index, building 01, floor 08.
std::string IssueCard(int roomIndex);

// The texts for a type name "ReadCard", "IssueCard" or "EraseCard" (as the type attribute is
// written); IssueCard gives one text per room. Throws std::invalid_argument for another name.
std::vector<std::string> ForType(const std::string& type, int rooms);

} // namespace DoorRequests
