#pragma once
// Finding channels by typing part of their name.
//
// Names are compared in a folded form: Latin, Greek and Cyrillic letters
// lower-case and without their accents ("Café" and "CAFE" both become
// "cafe", "ТВ" becomes "тв", "Ἀθῆναι" becomes "αθηναι"), letters with a
// stroke or ligatures as their plain letters (ł l, ø o, đ d, ß ss, æ ae,
// œ oe), combining accents dropped; Cyrillic letters of their own that are
// written with a mark (й, ё, ї, ў, ѓ, ќ...) only lose their case, so "мой"
// never finds "мои" (one typed as a letter and a combining mark counts as
// typed whole); every other character, and so every other script, stays
// as it is. A name matches when its folded form
// contains the folded text anywhere.
//
// cNameIndex holds a list of names with their folded forms laid end to end,
// so that one search is a scan of one buffer. The catalogue's index of
// every distinct name is built once per catalogue by cNameIndexTask on a
// thread of its own (cPlayerDatabase::nameIndex); the smaller lists of one
// country or type are indexed where they are queried. cNameSearch is the
// search as the user types it: it narrows the previous matches when the
// text only grew.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel/Tasks.h"

// The folded form of text (see above). Pure; any thread.
std::u16string foldForSearch(std::u16string_view text);

// An immutable list of names with their folded forms. Built on any thread,
// then only read (from any number of threads).
class cNameIndex {
public:
    // Keeps the names in the order given: matches come in that order.
    explicit cNameIndex(std::vector<std::u16string> names);

    size_t size() const { return mNames.size(); }
    const std::u16string& name(uint32_t row) const { return mNames[row]; }
    const std::vector<std::u16string>& names() const { return mNames; }
    // The rows' names in UTF-8, each ended by a zero, laid end to end into
    // texts, with where each starts in starts and one more start at the end
    // (the form the list widget keeps its rows in): for a list of a whole
    // catalogue, without a string per row. Both are emptied first.
    void utf8Rows(const std::vector<uint32_t>& rows, std::string& texts, std::vector<size_t>& starts) const;

    // The rows whose folded name contains folded (a text that is folded
    // already), ascending, into rows (emptied first); every row for an
    // empty text.
    void find(std::u16string_view folded, std::vector<uint32_t>& rows) const;
    // The same, looking only at the rows of within (ascending rows of this
    // index): for a text that contains the one whose matches within are.
    void narrow(std::u16string_view folded, const std::vector<uint32_t>& within, std::vector<uint32_t>& rows) const;

private:
    bool rowContains(uint32_t row, std::u16string_view folded) const;

    std::vector<std::u16string> mNames;
    // Every name's folded form, each followed by a zero, which no folded
    // text holds: a match never runs from one name into the next.
    std::u16string mFolded;
    std::vector<uint32_t> mStarts; // where each row's folded form starts; one more at the end
    // Every name in UTF-8 (made well-formed), each followed by a zero.
    std::string mUtf8;
    std::vector<uint32_t> mUtf8Starts; // as mStarts, for mUtf8
};

class cPlayerDatabase;

// The search as the user types it, over one list of names at a time. Not
// thread-safe: one owner (a scene, on the main loop).
class cNameSearch {
public:
    // The names searched from now on (null: none, nothing matches); the
    // matches are made again for the current text.
    void setIndex(std::shared_ptr<const cNameIndex> index);
    // Searches the catalogue's names of a country and a type ("*" = any),
    // the rows of the browser's channel list. Any country and any type use
    // the catalogue's own index (cPlayerDatabase::nameIndex): while it is
    // still being built nothing is searched (isReady() is false), and
    // ready, when given, runs once on the index's thread when it is there;
    // setCatalogueFilters again then. Other filters index the names of
    // database.names here (a country's or a type's, far fewer). Main loop.
    void setCatalogueFilters(cPlayerDatabase& database, const std::u16string& country, const std::u16string& type,
                             std::function<void()> ready = {});
    // Searches these names (the favourites), in their order: the rows of
    // the matches are their indexes.
    void setNames(std::vector<std::u16string> names);
    // False while no list is set, or the catalogue's index is being built.
    bool isReady() const { return mIndex != nullptr; }
    const std::shared_ptr<const cNameIndex>& index() const { return mIndex; }
    // The typed text. When its folded form contains the previous one (a
    // letter typed at the end, the usual case), only the previous matches
    // are looked at again.
    void setText(const std::u16string& text);
    const std::u16string& text() const { return mText; }
    // The matching rows of the index, ascending; empty without an index.
    const std::vector<uint32_t>& matches() const { return mMatches; }
    // The matching names, in the index's order.
    std::vector<std::u16string> matchingNames() const;
    // The same in the list widget's form (cNameIndex::utf8Rows).
    void matchingUtf8(std::string& texts, std::vector<size_t>& starts) const;

private:
    void search(bool narrowing);

    std::shared_ptr<const cNameIndex> mIndex;
    std::u16string mText;
    std::u16string mFolded;
    std::vector<uint32_t> mMatches;
    std::vector<uint32_t> mScratch;
};

// Reads every distinct name of the catalogue file, in the order of the
// browser's list of all names, and indexes them, on its own thread.
// Failures are logged; the index then holds the names read before the
// failure (none when the file cannot be opened), as the browser's own
// query would.
class cNameIndexTask : public kestrel::cStandaloneTask {
public:
    explicit cNameIndexTask(std::string nativePath);
    // Asks a run still going to stop and waits for it (at most about one
    // second: the catalogue connection's bound on one statement).
    ~cNameIndexTask() override;

    // Null until the run has built it. Any thread.
    std::shared_ptr<const cNameIndex> index();
    // Until the index is there: keeps ready, which then runs once on the
    // task's thread (never after a stop) and must not block; true. Once it
    // is there: false, and ready is dropped. Any thread.
    bool whenReady(std::function<void()> ready);

protected:
    void execute() override;

private:
    const std::string mPath; // written before start
    kestrel::cCriticalSection mLock;
    std::shared_ptr<const cNameIndex> mIndex;       // guarded by mLock
    std::vector<std::function<void()>> mListeners;  // guarded by mLock
};
