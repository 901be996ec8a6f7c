// The reader of fact tuples that runs ahead of the fact base on a thread of
// its own. Splitting a fact file into words and hashing them is about a
// third of loading it; the other two thirds, finding each word in the string
// cache and linking the facts, wait on memory. The reader thread does the
// first part for the batches to come while the loading thread does the
// second for the batch at hand. Batches pass through a ring; the reader
// stops after the batch that ends the run of triples (the section's end, an
// error, the end of input), so that the tokenizer is back in the loading
// thread's hands exactly where the single-threaded reader would have left it.
#ifndef LOPWORT_LANDSCAPETOKENSTREAM_AHEAD_H
#define LOPWORT_LANDSCAPETOKENSTREAM_AHEAD_H

#include "LandscapeTokenStream.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// The words of up to FACT_BATCH triples as read, before they are interned,
// and how the batch ended.
struct alignas(64) CRawFactBatch {
    struct Word {
        int offset, lth;
        uint32_t hash;
    };
    std::vector<char> text;
    Word words[CLandscapeTokenStream::FACT_BATCH * 3];
    int lines[CLandscapeTokenStream::FACT_BATCH];
    int nWords = 0;
    int nTriples = 0;
    int end = 0;                   // 1 when the section ended
    const char* errorP = nullptr;  // the fatal error that ended it
    bool header = false;           // the next header's two words follow
    Word headerWords[2] = {};
    int startLineno = 0;           // the line the last triple began on
    const char* pendingSvalP = nullptr;
    std::vector<CTokenizerMessage> messages; // printed before it is applied
    std::exception_ptr failure;    // a fatal error of the tokenizer
    bool last = false;             // the reader stopped after it

    // Appends lth bytes to the text; returns their offset.
    int keep(const char* bytesP, int lth);
};

class CFactReadAhead {
  public:
    // The ring holds `slots` batches, a power of two.
    CFactReadAhead(CLandscapeTokenStream* tsP, unsigned slots);
    // Stops the reader (when the load ends early) and waits for it.
    ~CFactReadAhead();
    CFactReadAhead(const CFactReadAhead&) = delete;
    CFactReadAhead& operator=(const CFactReadAhead&) = delete;

    // The next batch, waiting for the reader if need be; release() hands
    // its place back once it has been applied.
    CRawFactBatch& take();
    void release();

  private:
    CLandscapeTokenStream* m_tsP;
    // A slot is written again only after many others: one written soon
    // after the loading thread read it would have to be fetched back from
    // that thread's core line by line, which costs more than the reading.
    std::vector<CRawFactBatch> m_slots;
    unsigned m_half; // a reader that found the ring full waits until this many are free
    // On lines of their own: each is written by one thread only.
    alignas(64) std::atomic<unsigned> m_head{0}; // batches read
    alignas(64) std::atomic<unsigned> m_tail{0}; // batches applied
    alignas(64) std::atomic<bool> m_readerWaiting{false};
    std::atomic<bool> m_takerWaiting{false};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread; // last: it starts when everything above is ready

    void run();
    template <class Ready> bool sleepUntil(std::atomic<bool>& waiting, Ready ready);
};

#endif
