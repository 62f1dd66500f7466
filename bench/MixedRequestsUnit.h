#pragma once

#include <string>
#include <vector>

// The request kinds of a mixed load, each with the texts it cycles through and whether the
// interface answers it. Pure functions; thread-safe.
namespace MixedRequests {

struct TKind
{
    std::string Name;               // new, copy, read, erase, bad
    bool Answered = true;           // false: the interface closes without an answer
    bool ReachesEncoder = false;    // IssueCard that gets as far as W_Card
    std::vector<std::string> Texts; // UTF-8, without the terminating NUL
    int Share = 0;                  // connections of the mix given to this kind
};

// New and copy IssueCards over `rooms` rooms, ReadCard, EraseCard and unreadable requests
// (broken XML, an unknown type, an IssueCard one position short, a date that does not read).
std::vector<TKind> Kinds(int rooms);

// Applies a mix such as "new=16,copy=8,read=16,erase=12,bad=12": the shares, in connections;
// a kind left out gets none. Throws std::invalid_argument for an unknown name or a bad number.
void ApplyMix(std::vector<TKind>& kinds, const std::string& mix);

} // namespace MixedRequests
