// The ring between the reader thread and the loading thread. Each side
// sleeps only when it cannot go on: the loading thread when no batch is
// ready, the reader when the ring is full (and then until half of it is free
// again, so that a reader far ahead is woken once per many batches rather
// than once per batch) or between runs.
#include "LandscapeTokenStream_ahead.h"

#include "xmalloc.h"

#include <algorithm>
#include <chrono>
#include <cstring>

int CRawFactBatch::keep(const char* bytesP, int lth) {
    size_t offset = textSize;
    if (offset + static_cast<size_t>(lth) > text.size())
        text.resize(std::max(text.size() * 2, offset + static_cast<size_t>(lth)));
    memcpy(text.data() + offset, bytesP, static_cast<size_t>(lth));
    textSize = offset + static_cast<size_t>(lth);
    words.push_back({static_cast<int>(offset), lth, 0});
    return static_cast<int>(words.size()) - 1;
}

void CRawFactBatch::reset() {
    textSize = 0;
    words.clear();
    nTriples = 0;
    end = 0;
    errorP = nullptr;
    header = false;
    pairs.clear();
    records.clear();
    pendingSvalP = nullptr;
}

CFactReadAhead::CFactReadAhead(CLandscapeTokenStream* tsP, unsigned slots)
    : m_tsP(tsP), m_slots(slots), m_half(slots / 2),
      m_spares(tsP->inputSize() / (128u << 20)),
      m_thread([this] { run(); }) {}

CFactReadAhead::~CFactReadAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true);
    }
    m_wake.notify_all();
    m_thread.join();
    arena_drop_spares();
}

// Sleeps until ready() holds or the reader is stopped; false when stopped.
// The flag is raised before ready() is looked at, and the other side changes
// its counter before it looks at the flag, so one of them always sees the
// other (all these atomics are sequentially consistent).
template <class Ready> bool CFactReadAhead::sleepUntil(std::atomic<bool>& waiting, Ready ready) {
    std::unique_lock<std::mutex> lock(m_mutex);
    waiting.store(true);
    m_wake.wait(lock, [&] { return m_stop.load() || ready(); });
    waiting.store(false);
    return !m_stop.load();
}

// The reader's wait. Rather than sleep, it prepares arena blocks for the
// loading thread while they are wanted, and sleeps in short spells so that
// it sees one taken.
template <class Ready> bool CFactReadAhead::idleUntil(Ready ready) {
    for (;;) {
        if (m_stop.load())
            return false;
        if (ready())
            return true;
        if (arena_prepare_spare(m_spares))
            continue;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_readerWaiting.store(true);
        m_wake.wait_for(lock, std::chrono::milliseconds(2),
                        [&] { return m_stop.load() || ready(); });
        m_readerWaiting.store(false);
    }
}

void CFactReadAhead::start(Kind kind) {
    m_running = true;
    m_kind.store(kind);
    m_runs.fetch_add(1);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake.notify_all();
}

void CFactReadAhead::run() {
    unsigned head = 0, runs = 0;
    for (;;) {
        // Between runs the tokenizer belongs to the loading thread.
        if (!idleUntil([&] { return m_runs.load() != runs; }))
            return;
        ++runs;
        bool records = m_kind.load() == RECORDS;
        for (bool last = false; !last;) {
            if (m_stop.load())
                return;
            if (head - m_tail.load() == m_slots.size() &&
                !idleUntil([&] { return head - m_tail.load() <= m_half; }))
                return;
            CRawFactBatch& b = m_slots[head & (m_slots.size() - 1)];
            b.messages.clear();
            b.failure = nullptr;
            m_tsP->m_deferP = &b.messages;
            try {
                if (records) {
                    m_tsP->readRawRecordBatch(b);
                    last = b.result != 3;
                } else {
                    m_tsP->readRawFactBatch(b);
                    last = b.end != 0 || b.errorP != nullptr;
                }
            } catch (...) {
                b.failure = std::current_exception();
                last = true;
            }
            b.last = last;
            if (last)
                m_tsP->m_deferP = nullptr; // the tokenizer goes back to the loading thread
            m_head.store(++head);
            if (m_takerWaiting.load()) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_wake.notify_all();
            }
        }
    }
}

CRawFactBatch& CFactReadAhead::take() {
    unsigned tail = m_tail.load();
    if (m_head.load() == tail)
        sleepUntil(m_takerWaiting, [&] { return m_head.load() != tail; });
    // The reader wrote the next batch on its own core: ask for its lines
    // now, so that they travel while this one is applied.
    if (m_head.load() - tail > 1) {
        const CRawFactBatch& next = m_slots[(tail + 1) & (m_slots.size() - 1)];
        const char* wordsP = reinterpret_cast<const char*>(next.words.data());
        for (size_t at = 0; at < next.words.size() * sizeof next.words[0]; at += 64)
            __builtin_prefetch(wordsP + at);
        for (size_t at = 0; at < next.textSize; at += 64)
            __builtin_prefetch(next.text.data() + at);
    }
    return m_slots[tail & (m_slots.size() - 1)];
}

void CFactReadAhead::release() {
    unsigned tail = m_tail.load();
    if (m_slots[tail & (m_slots.size() - 1)].last)
        m_running = false;
    m_tail.store(++tail);
    if (m_readerWaiting.load() && m_head.load() - tail <= m_half) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wake.notify_all();
    }
}
