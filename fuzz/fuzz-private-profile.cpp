// Option.ini is edited by hand at hotels. Any file must read without crashing; a write changes
// the one key it writes (which then reads back as written) and no other key's value.
// The input is the whole file.
#include "DoorlockError.h"
#include "PrivateProfile.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

struct TKey
{
    QString Section;
    QString Key;
};

// The program's keys, with names in other cases and names the program does not use.
const std::array<TKey, 10> Keys = {{
    {u"DoorlockOption"_s, u"PortName"_s},
    {u"doorlockoption"_s, u"DELAYMINUTES"_s},
    {u"DoorlockOption"_s, u"UseNativeDoorlockDb"_s},
    {u"SysOption"_s, u"Password"_s},
    {u"SysOption"_s, u"DoorlockPortNo"_s},
    {u"SYSOPTION"_s, u"scanportno"_s},
    {u"Encoder"_s, u"DelayMs"_s},
    {u"Database"_s, u"Driver"_s},
    {u"门锁"_s, u"房间"_s},
    {u"a b"_s, u"c d"_s},
}};

const std::array<QString, 8> Values = {
    u"COM3"_s, u"  blanks around  "_s, u"\"quoted\""_s, u"'single'"_s,
    u""_s,     u"门锁接口"_s,          u"a=b;c[d]"_s,   u"\""_s,
};

// One file for the whole run, rewritten for every input. A write syncs the file to disk; in
// memory (tmpfs) that costs nothing, on a disk it slows the run several times over.
const QString& FileName()
{
    static const QString name = [] {
        const QDir folder(QDir(u"/dev/shm"_s).exists() ? u"/dev/shm"_s : QDir::tempPath());
        return folder.filePath(u"fuzz-private-profile-%1.ini"_s.arg(::getpid()));
    }();
    // Registered after the name exists, so it runs before the name is destroyed.
    [[maybe_unused]] static const int removal = std::atexit([] { QFile::remove(FileName()); });
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray path = FileName().toLocal8Bit();
    std::FILE* file = std::fopen(path.constData(), "wb");
    Require(file != nullptr);
    Require(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    TPrivateProfile profile(FileName());
    std::array<QString, Keys.size()> before;
    for (std::size_t i = 0; i < Keys.size(); ++i) {
        before[i] = profile.ReadString(Keys[i].Section, Keys[i].Key, u"<default>"_s);
        Require(before[i].size() <= TPrivateProfile::MaxValueBytes || before[i] == u"<default>"_s);
        profile.ReadInteger(Keys[i].Section, Keys[i].Key, 8886);
    }
    profile.ReadBool(Keys[2].Section, Keys[2].Key, true);

    // Which key and value to write follow from the input, so the fuzzer steers them too.
    const std::size_t target = size > 0 ? data[0] % Keys.size() : 0;
    const QString& value = Values[size > 1 ? data[1] % Values.size() : 0];
    try {
        profile.WriteString(Keys[target].Section, Keys[target].Key, value);
    } catch (const DoorlockError&) {
        std::abort(); // the names and values are all writable
    }
    for (std::size_t i = 0; i < Keys.size(); ++i) {
        const QString after = profile.ReadString(Keys[i].Section, Keys[i].Key, u"<default>"_s);
        Require(i == target ? after == value : after == before[i]);
    }
    return 0;
}
