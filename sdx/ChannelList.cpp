#include "sdx/ChannelList.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <set>

#include "base/InputFile.h"
#include "base/TextFormat.h"
#include "sdx/Enigma2List.h"
#include "sdx/ServiceReport.h"
#include "sdx/VdrList.h"

namespace velmora {

namespace {

// The whole file as text; false with `error` when it cannot be read.
bool ReadText(const std::string& path, std::string& text, std::string& error) {
    InputFile file;
    if (!file.Open(path)) {
        error = file.Error();
        return false;
    }
    text.resize(static_cast<std::size_t>(file.Length()));
    text.resize(file.Read(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
    if (file.ReadFailed()) {
        error = "it could not be read to its end";
        return false;
    }
    return true;
}

// The satellites.xml the choice names, or else the one beside the list.
std::string SatellitesXmlPath(const std::string& list, const ListChoice& choice) {
    if (!choice.satellitesXml.empty()) {
        return choice.satellitesXml;
    }
    return (std::filesystem::path(list).parent_path() / "satellites.xml").string();
}

// Reads the satellite names and bouquets; false with `error` for a file the
// choice names that cannot be read.
bool ReadSources(const std::string& list, const ListChoice& choice, ListSources& sources,
                 std::string& error) {
    std::string text;
    if (ReadText(SatellitesXmlPath(list, choice), text, error)) {
        sources.satelliteNames = ReadSatelliteNames(text);
    } else if (!choice.satellitesXml.empty()) {
        error = "Cannot read the satellites.xml " + choice.satellitesXml + ": " + error + ".";
        return false;
    }
    for (const std::string& bouquet : choice.bouquets) {
        if (!ReadText(bouquet, text, error)) {
            error = "Cannot read the bouquet " + bouquet + ": " + error + ".";
            return false;
        }
        sources.bouquets.push_back(ReadBouquetServices(text));
    }
    return true;
}

void CountSkip(ServiceSkip skip, ServiceTally& t) {
    switch (skip) {
        case ServiceSkip::Unreadable:
            ++t.unreadable;
            break;
        case ServiceSkip::Duplicate:
            ++t.duplicate;
            break;
        case ServiceSkip::NotSatellite:
            ++t.notSatellite;
            break;
        case ServiceSkip::NoTransponder:
            ++t.noTransponder;
            break;
        case ServiceSkip::ServiceType:
            ++t.serviceType;
            break;
        case ServiceSkip::None:
            break;
    }
}

bool OnChosenSatellite(const ListedService& s, const ListChoice& choice) {
    return choice.positions.empty() || std::find(choice.positions.begin(), choice.positions.end(),
                                                 s.position) != choice.positions.end();
}

// The services that go in, in the order they go in: the list's order, or
// the bouquets' when there are bouquets. Counts the rest.
std::vector<const ListedService*> Choose(const ListedServices& listed, const ListChoice& choice,
                                         const ListSources& sources, ListReport& report) {
    std::vector<const ListedService*> chosen;
    std::map<ServiceKey, const ListedService*> byKey;
    std::set<ServiceKey> inList;
    for (const ListedService& s : listed.services) {
        inList.insert(s.key);
        if (s.skip != ServiceSkip::None) {
            CountSkip(s.skip, report.services);
        } else if (!OnChosenSatellite(s, choice) || (choice.freeOnly && s.caSystemId != 0)) {
            ++report.services.outsideChoice;
        } else if (sources.bouquets.empty()) {
            chosen.push_back(&s);
        } else if (!byKey.emplace(s.key, &s).second) {
            ++report.services.outsideChoice;  // a bouquet names the first of the same key
        }
    }
    for (const std::vector<ServiceKey>& bouquet : sources.bouquets) {
        for (const ServiceKey& key : bouquet) {
            const auto found = byKey.find(key);
            if (found != byKey.end() && found->second != nullptr) {
                chosen.push_back(found->second);
                found->second = nullptr;  // named twice: it goes in once
            } else if (inList.count(key) == 0) {
                ++report.bouquetEntriesMissing;
            }
        }
    }
    for (const auto& [key, service] : byKey) {
        report.services.outsideChoice += service != nullptr ? 1 : 0;
    }
    return chosen;
}

// Chains the records of the chosen services; false when memory runs out.
bool ChainRecords(const std::vector<const ListedService*>& chosen, const ListSources& sources,
                  SdxReadResult& out) {
    std::map<std::int32_t, std::string> satelliteNames;  // by position, made once
    SdxListGuard list(new (std::nothrow) SdxListNode{nullptr, nullptr});
    SdxListNode* current = list.Head();
    for (const ListedService* s : chosen) {
        std::unique_ptr<SdxRecord> record(new (std::nothrow) SdxRecord());
        SdxListNode* next = new (std::nothrow) SdxListNode{nullptr, nullptr};
        if (current == nullptr || !record || next == nullptr) {
            delete next;
            return false;
        }
        auto [name, made] = satelliteNames.try_emplace(s->position);
        if (made) {
            name->second = SatelliteNameOf(s->position, sources.satelliteNames);
        }
        FillSdxRecord(*s, name->second, *record, out.names);
        current->pRecord = record.release();
        current->pNext = next;
        current = next;
        ++out.nCount;
    }
    out.pHead = list.Head();
    list.Head() = nullptr;
    out.nPieces = out.nCount;
    return current != nullptr;
}

std::string RefusalOf(std::string_view displayName, const ServiceTally& t) {
    std::string causes;
    for (const std::string& cause : SkippedServiceCauses(t)) {
        causes += (causes.empty() ? "" : ", ") + cause;
    }
    return std::string(displayName) + " has no service that can be converted: " +
           (t.read == 0 ? std::string("it holds none.")
                        : "of its " + GroupedDigits(static_cast<std::uint64_t>(t.read)) + " " +
                              Plural(static_cast<std::uint64_t>(t.read), "service", "services") +
                              ", " + causes + ".") +
           " Check the list, or choose other satellites or bouquets, then try again.";
}

}  // namespace

ChannelListRead ReadServiceList(std::string_view text, const ListKind& kind,
                                const ListChoice& choice, const ListSources& sources,
                                std::string_view displayName) {
    ChannelListRead read;
    read.report.format = kind.format;
    read.report.version = kind.version;
    const ListedServices listed = kind.format == ListFormat::Enigma2
                                      ? ReadEnigma2Services(text, kind.version)
                                      : ReadVdrServices(text);
    read.report.services.read = static_cast<std::int64_t>(listed.services.size());
    read.report.unreadableLines = listed.unreadable;
    read.report.unreadableLineCount = listed.unreadableCount;
    const std::vector<const ListedService*> chosen = Choose(listed, choice, sources, read.report);
    if (!ChainRecords(chosen, sources, read.records)) {
        read.records.status = SdxReadStatus::OutOfMemory;
        read.records.error = "out of memory for the record list";
        return read;
    }
    ServiceTally& t = read.report.services;
    t.converted = read.records.nCount;
    for (const ListedService* s : chosen) {
        t.withoutPids += s->withoutPids ? 1 : 0;
    }
    if (t.converted == 0) {
        read.refusal = RefusalOf(displayName, t);
    }
    return read;
}

ListChoiceCheck CheckListChoice(const std::string& path, const ListChoice& choice) {
    const std::optional<ListKind> kind = ListKindOfFile(path);
    if (!kind) {
        InputFile list;
        if (!choice.Chosen() || !list.Open(path)) {
            return {};  // nothing chosen, or no list to choose from: the reader tells
        }
        return {path +
                " is converted whole, as SATCODX lists are: a choice of satellites, "
                "bouquets or free services, and a satellites.xml, apply to Enigma2 and "
                "VDR lists. Leave them out, then try again."};
    }
    if (kind->format == ListFormat::Vdr && !choice.bouquets.empty()) {
        return {"Bouquets name the services of an Enigma2 list, but " + path +
                " is a VDR channel list. Leave the bouquets out, then try again."};
    }
    ListSources sources;
    if (std::string error; !ReadSources(path, choice, sources, error)) {
        return {error + " Check the file name, then try again."};
    }
    for (std::size_t i = 0; i < sources.bouquets.size(); ++i) {
        if (sources.bouquets[i].empty()) {
            return {choice.bouquets[i] +
                    " names no service: an Enigma2 bouquet names each in a line \"#SERVICE "
                    "1:0:...\". Choose a bouquet file (userbouquet.*.tv), then try again."};
        }
    }
    if (!choice.satellitesXml.empty() && sources.satelliteNames.empty()) {
        return {choice.satellitesXml +
                " names no satellite position (<sat name=\"...\" "
                "position=\"192\">). Choose an Enigma2 satellites.xml, "
                "then try again."};
    }
    if (kind->format == ListFormat::Enigma2 && !IsKnownEnigma2Version(kind->version) &&
        !choice.anyVersion) {
        return {path + " is an Enigma2 list of version " + std::to_string(kind->version) +
                    ", but this tool reads versions 3, 4 and 5; its services may be read "
                    "wrongly.",
                true};
    }
    return {};
}

ChannelListRead ReadChannelList(const std::string& path, const ListChoice& choice,
                                IProgressBar& analyse, const SdxReadFaults* faults) {
    ChannelListRead read;
    if (const ListChoiceCheck check = CheckListChoice(path, choice); !check.fact.empty()) {
        read.refusal = check.fact;
        return read;
    }
    const std::optional<ListKind> kind = ListKindOfFile(path);
    if (!kind) {
        read.records = ReadSdxFile(path, analyse, faults);
        return read;
    }
    std::string text;
    std::string error;
    if (!ReadText(path, text, error)) {
        read.records.status =
            error == kNotRegularFile ? SdxReadStatus::ReadError : SdxReadStatus::CannotOpen;
        read.records.error = error;
        return read;
    }
    analyse.SetPos(10);
    ListSources sources;
    if (ReadSources(path, choice, sources, error)) {
        read = ReadServiceList(text, *kind, choice, sources, path);
    } else {
        read.refusal = error;  // changed since it was checked
    }
    read.report.format = kind->format;
    read.report.version = kind->version;
    analyse.SetPos(20);
    return read;
}

}  // namespace velmora
