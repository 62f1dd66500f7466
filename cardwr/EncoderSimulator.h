#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>

// One simulated card encoder with one card slot. Its state lives in files of the process's
// current working directory, so a test or an integrator can prepare and inspect it by hand:
//   VeltraQuillon.ini  [Encoder] settings, read afresh at every call
//   EncoderCard.txt    the card on the encoder (missing or empty first line: a blank card)
//   R_card.txt         what a successful read leaves for the caller
//   CardWR.journal     one line per call: name|arguments...|result
// Thread-safe: one call at a time, as one physical encoder would serve them.
class EncoderSimulator
{
public:
    using WriteArguments = std::array<const char*, 9>;

    int WriteCard(const WriteArguments& args);
    int ReadCard(const char* port);
    int EraseCard(const char* port);

private:
    struct Settings
    {
        bool CardPresent = true;
        std::optional<int> Result;
        int DelayMs = 0;
        std::optional<std::string> CardLine;
    };

    static Settings LoadSettings();
    static int Write(const Settings& settings, const WriteArguments& args);
    static int Read(const Settings& settings, const char* port);
    static int Erase(const Settings& settings, const char* port);

    std::mutex m_mutex;
};
