// The reader that runs ahead of the fact base on a thread of its own.
// Splitting a fact file into words and hashing them is about a third of
// loading it; the rest, finding each word in the string cache and linking
// the facts, waits on memory. The reader thread does the first part for the
// batches to come while the loading thread does the second for the batch at
// hand. Batches pass through a ring. A run of batches (fact triples, or
// plain entity records) ends with the batch that ends what the batch reader
// can take; the reader then stops, and the tokenizer is back in the loading
// thread's hands exactly where the single-threaded reader would have left it.
#ifndef LOPWORT_LANDSCAPETOKENSTREAM_AHEAD_H
#define LOPWORT_LANDSCAPETOKENSTREAM_AHEAD_H

#include "LandscapeTokenStream.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The words of a batch as read, before they are interned, and how it ended.
struct alignas(64) CRawFactBatch {
    struct Word {
        int offset, lth;
        uint32_t hash;
    };
    // The words' bytes, one after another: the first textSize bytes of
    // text, which keeps its largest size so that appending a word does not
    // zero-fill room for it first.
    std::vector<char> text;
    size_t textSize = 0;
    std::vector<Word> words;

    // A batch of fact triples: three words each.
    int lines[CLandscapeTokenStream::FACT_BATCH]; // the line after each triple
    int nTriples = 0;
    int end = 0;                  // 1 when the section ended
    const char* errorP = nullptr; // the fatal error that ended it
    bool header = false;          // the next header's two words follow
    Word headerWords[2] = {};
    int startLineno = 0; // the line the last triple began on

    // A batch of entity records: an id and its assignments each.
    std::vector<std::pair<int, int>> pairs;    // attribute, value word (or -1)
    std::vector<std::array<int, 3>> records;   // id word, first pair, pairs
    int where = 0, stopWord = -1, stopType = 0; // as readFactRecords explains
    bool partial = false;
    int result = 0; // what readFactRecords returns for it

    const char* pendingSvalP = nullptr;      // see CStreamTokenizer::m_deferP
    std::vector<CTokenizerMessage> messages; // printed before it is applied
    std::exception_ptr failure;              // a fatal error of the tokenizer
    bool last = false;                       // the run ended with it

    // The text is never without room, so that its data is never null.
    CRawFactBatch() : text(256) {}
    // Empties it for the next batch of either kind.
    void reset();
    // Appends the lth bytes as a word; returns its index.
    int keep(const char* bytesP, int lth);
};

class CFactReadAhead {
  public:
    enum Kind { TRIPLES, RECORDS };

    // The ring holds `slots` batches, a power of two.
    CFactReadAhead(CLandscapeTokenStream* tsP, unsigned slots);
    // Stops the reader (when the load ends early) and waits for it.
    ~CFactReadAhead();
    CFactReadAhead(const CFactReadAhead&) = delete;
    CFactReadAhead& operator=(const CFactReadAhead&) = delete;

    // Whether a run is being read; start() begins one, from the tokenizer's
    // present position.
    bool running() const { return m_running; }
    void start(Kind kind);
    // The next batch of the run, waiting for the reader if need be;
    // release() hands its place back once it has been applied, and ends the
    // run after its last batch.
    CRawFactBatch& take();
    void release();

  private:
    CLandscapeTokenStream* m_tsP;
    // A slot is written again only after many others: one written soon
    // after the loading thread read it would have to be fetched back from
    // that thread's core line by line, which costs more than the reading.
    std::vector<CRawFactBatch> m_slots;
    unsigned m_half;        // a reader that found the ring full waits until this many are free
    // Arena blocks the reader keeps ready while it waits: one for every
    // 128 MiB of input (the arena keeps no more than a few), so that a small
    // load does not hold more memory than it fills.
    size_t m_spares;
    bool m_running = false; // the loading thread's own view
    // On lines of their own: each is written by one thread only.
    alignas(64) std::atomic<unsigned> m_head{0}; // batches read
    alignas(64) std::atomic<unsigned> m_tail{0}; // batches applied
    alignas(64) std::atomic<unsigned> m_runs{0}; // runs asked for
    std::atomic<int> m_kind{TRIPLES};
    std::atomic<bool> m_readerWaiting{false};
    std::atomic<bool> m_takerWaiting{false};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread; // last: it starts when everything above is ready

    void run();
    template <class Ready> bool sleepUntil(std::atomic<bool>& waiting, Ready ready);
    template <class Ready> bool idleUntil(Ready ready);
};

#endif
