#include "history/SaveLedger.h"

#include "history/HistoryTable.h"

#include <algorithm>

namespace history {

void SaveLedger::add(const std::string& entry) {
    saves_.push_back({entry, Where::InMemory});
    recount();
}

void SaveLedger::giveBack(const std::vector<std::string>& saves) {
    const auto first = std::find_if(saves_.begin(), saves_.end(),
                                    [](const Save& save) { return save.where == Where::InMemory; });
    std::vector<Save> given;
    for (const std::string& entry : saves) {
        given.push_back({entry, Where::BesideFile});
    }
    saves_.insert(first, given.begin(), given.end());
    recount();
}

void SaveLedger::inPlaceUnconfirmed() {
    for (Save& save : saves_) {
        save.where = Where::InFile;
    }
    recount();
}

void SaveLedger::clear() {
    saves_.clear();
    recount();
}

std::vector<std::string> SaveLedger::toWrite() const {
    std::vector<std::string> entries;
    for (const Save& save : saves_) {
        if (save.where != Where::InFile) {
            entries.push_back(save.entry);
        }
    }
    return entries;
}

void SaveLedger::recount() {
    while (saves_.size() > std::size_t(HistoryTable::Capacity)) {
        saves_.pop_front();
    }
    const auto count = [this](Where where) {
        return std::size_t(std::count_if(saves_.begin(), saves_.end(), [where](const Save& save) {
            return save.where == where;
        }));
    };
    inFile_ = count(Where::InFile);
    besideFile_ = count(Where::BesideFile);
    inMemory_ = count(Where::InMemory);
}

std::string savedPasswords(std::size_t count) {
    return std::to_string(count) + " saved password(s)";
}

std::string whereSavesStand(const SaveLedger::Counts& saves, const std::string& file,
                            platform::WritePhase phase, bool ending) {
    SaveLedger::Counts now = saves;
    if (phase == platform::WritePhase::InPlace) {
        now = {saves.total(), 0, 0};
    }
    std::string words;
    const auto say = [&words](const std::string& sentence) {
        words += (words.empty() ? "" : " ") + sentence;
    };
    if (now.inMemory > 0 && phase == platform::WritePhase::Flushing) {
        say("the disk has not confirmed the write of " + savedPasswords(now.inMemory) + " to " +
            file + ": what it wrote is beside the file, and the next start finishes it.");
    } else if (now.inMemory > 0) {
        say(savedPasswords(now.inMemory) +
            (ending ? " were only in memory: they are lost."
                    : " are only in memory: they are lost if Tavik ends now."));
    }
    if (now.besideFile > 0) {
        say(savedPasswords(now.besideFile) + " stay beside " + file +
            ", and the next start gives them back.");
    }
    if (now.inFile > 0) {
        say(savedPasswords(now.inFile) + " are in " + file +
            ", but the disk has not confirmed them.");
    }
    return words;
}

} // namespace history
