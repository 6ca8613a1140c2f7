#pragma once
// The ordered addresses that one playback opens in turn. A channel's
// address is either a stream or an ASX playlist on a web server; a playlist
// is fetched and its ref addresses come first, in document order, followed
// by the channel's own address.

#include "playback/PlayFailure.h"

#include "kestrel/Exception.h"

#include <string>
#include <utility>
#include <vector>

// "\"name\" at address", how the log names a channel.
std::string describeChannel(const std::u16string& name, const std::u16string& address);

// The playlist could not be fetched: the message is "can't download ASX
// file"; the cause is what the viewer is told.
class cPlayListFetchFailure : public kestrel::cException {
public:
    explicit cPlayListFetchFailure(const sPlayFailure& cause)
        : kestrel::cException(u"can't download ASX file"), mCause(cause)
    {
    }
    const sPlayFailure& cause() const { return mCause; }

private:
    sPlayFailure mCause;
};

class cPlayList {
public:
    // Builds the entries. Throws cPlayListFetchFailure ("can't download ASX
    // file") when the address is an ASX playlist that cannot be fetched.
    // Blocks for the whole fetch (bounded by the time-outs below).
    cPlayList(const std::u16string& url, const std::u16string& name, const std::u16string& description);
    // The same for a channel whose servers want these request headers
    // (name and value pairs, checked by whoever read them): the playlist
    // fetch sends them, and the player hands them to the media graph for
    // every request of the channel.
    using tRequestHeaders = std::vector<std::pair<std::string, std::string>>;
    cPlayList(const std::u16string& url, const std::u16string& name, const std::u16string& description,
              const tRequestHeaders& requestHeaders);
    virtual ~cPlayList();

    std::u16string getUrl() const { return mUrl; }
    std::u16string getName() const { return mName; }
    std::u16string getDescription() const { return mDescription; }
    const tRequestHeaders& getRequestHeaders() const { return mRequestHeaders; }

    // The entry at the current index; empty when there are no entries.
    std::u16string getCurrentEntry() const;
    // Moves to the next entry, wrapping to the first after the last.
    void advance();
    int getEntryCount() const { return static_cast<int>(mEntries.size()); }
    bool isEmpty() const { return mEntries.empty(); }
    int getCurrentIndex() const { return mCurrentIndex; }

    // True when the walk has come round to a fetched playlist's own
    // address, after its entries: the media framework cannot play the
    // document itself.
    bool isAtOwnPlaylist() const;
    // Fetches the playlist again (a live one may have changed) and starts
    // at its first entry. Throws like the constructor, leaving the entries
    // as they were. Same threads as the index: never with a load running.
    void refetch();

    // The largest playlist body read; anything beyond it is ignored.
    static constexpr size_t MaxBodySize = 1024 * 1024;
    // Each network step (connect, send, every read) gives up after this
    // long; the whole fetch after FetchDeadlineSeconds.
    static constexpr int NetworkTimeoutSeconds = 10;
    static constexpr int FetchDeadlineSeconds = 20;

    // True when the address names an ASX playlist: the text after its last
    // full stop is exactly "asx".
    static bool isAsxAddress(const std::u16string& url);

private:
    void reportFetchFailure(const std::string& why) const;
    void clearEntries();
    std::u16string download(const std::u16string& url);
    bool parseAsx(const std::u16string& text);
    void addEntry(const std::u16string& url);

    // Written by the constructor only; afterwards the player reads the
    // entries from its load task and moves the index from its event
    // listener, never both at once.
    std::u16string mUrl;
    std::u16string mName;
    std::u16string mDescription;
    tRequestHeaders mRequestHeaders;
    std::vector<std::u16string> mEntries;
    int mCurrentIndex = 0;
};
