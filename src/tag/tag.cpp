#include "tag/tag.h"

#include <algorithm>
#include <array>
#include <vector>

namespace sorvel::tag {
namespace {

// After a write that failed part-way: a partial append must not leave stray bytes behind, and an
// overwrite puts the old trailer back.
void rollBack(platform::FileSystem& fs, int fd, const Placement& p) {
    if (p.overwrite) {
        fs.writeAt(fd, p.offset(), p.old);
    } else {
        fs.truncate(fd, p.size);
    }
}

// Whether the file, whose end `tail` was just read, still holds what the caller read from it. When
// it does not, `check` learns what it holds now.
bool unchanged(std::span<const std::byte> tail, std::uint64_t size, Check* check) {
    if (check == nullptr || !check->expected.known())
        return true;
    const Fingerprint now = fingerprintOf(tail, size);
    if (now == check->expected)
        return true;
    check->now = now;
    check->found = readTrailer(tail, size);
    return false;
}

// What the file's end asks of the record; code::kBadArgument when the record has no room for it.
Code place(std::span<const std::byte> tail, std::uint64_t size, const TagRecord& tag, Fields fields,
           Check* check, Placement& p) {
    if (!unchanged(tail, size, check))
        return code::kChangedOnDisk;
    auto placed = placeTrailer(tail, size, tag, fields);
    if (!placed)
        return code::kBadArgument;
    p = *placed;
    return code::kOk;
}

void unconfirmed(Check& check) {
    check.unconfirmed = true;
    check.now = kUnreadable;
}

void fill(Replaced* replaced, Check* check, std::span<const std::byte> tail, const Placement& p) {
    if (check != nullptr) {
        check->now = p.after;
        check->found.reset();
    }
    if (replaced == nullptr)
        return;
    replaced->oldPrint = fingerprintOf(tail, p.size);
    replaced->oldLength = p.size;
    replaced->hadTrailer = p.overwrite;
    if (p.overwrite)
        replaced->oldTrailer = p.old;
    replaced->newTrailer = p.out;
    replaced->newLength = p.newLength();
}

// skriv_tag(), with the record made from the file's own tag where `replan` is given.
Code writeOne(platform::FileSystem& fs, const QString& path, const TagRecord& tag, Fields fields,
              Replaced* replaced, Check* check, const decltype(WriteJob::replan)& replan) {
    if (!replan && !renderTrailer(tag))
        return code::kBadArgument;

    int fd = -1;
    std::uint64_t size = 0;
    if (const Code c = fs.open(path, platform::FileSystem::Access::ReadWrite, fd, size);
        c != code::kOk) {
        return c;
    }
    platform::FileGuard guard(fs, fd);

    // The decision between overwrite and append is made on the descriptor that writes, so the
    // file cannot change between the look and the write through another name.
    std::array<std::byte, kTailSize> buf{};
    const std::size_t n = std::min<std::uint64_t>(size, kTailSize);
    const std::span<std::byte> tail(buf.data(), n);
    if (n > 0) {
        if (const Code c = fs.readAt(fd, size - n, tail); c != code::kOk)
            return c;
    }
    Placement p;
    const TagRecord planned = replan ? replan(readTrailer(tail, size)) : tag;
    if (const Code c = place(tail, size, planned, fields, check, p); c != code::kOk)
        return c;
    if (const Code c = fs.writeAt(fd, p.offset(), p.out); c != code::kOk) {
        rollBack(fs, fd, p);
        return c;
    }
    const Code closed = guard.close();
    if (closed == code::kOk)
        fill(replaced, check, tail, p);
    else if (check != nullptr)
        unconfirmed(*check);
    return closed;
}

}  // namespace

std::optional<TagRecord> las_tag(platform::FileSystem& fs, const QString& path) {
    int fd = -1;
    std::uint64_t size = 0;
    if (fs.open(path, platform::FileSystem::Access::Read, fd, size) != code::kOk) {
        return std::nullopt;
    }
    platform::FileGuard guard(fs, fd);
    if (size < kMinTaggedSize)
        return std::nullopt;
    std::array<std::byte, kTailSize> buf{};
    const std::size_t n = std::min<std::uint64_t>(size, kTailSize);
    const std::span<std::byte> tail(buf.data(), n);
    if (fs.readAt(fd, size - n, tail) != code::kOk)
        return std::nullopt;
    return readTrailer(tail, size);
}

std::optional<TagRecord> tagOfTail(const platform::FileTail& tail) {
    static_assert(kTailSize <= platform::FileTail::kCapacity);
    if (tail.code != code::kOk)
        return std::nullopt;
    return readTrailer(tail.tail(), tail.size);
}

Code skriv_tag(platform::FileSystem& fs, const QString& path, const TagRecord& tag, Fields fields,
               Replaced* replaced, Check* check) {
    return writeOne(fs, path, tag, fields, replaced, check, {});
}

void writeBatch(platform::FileSystem& fs, const QString& katalog, std::span<const QString> names,
                std::size_t tailBytes, const BatchSteps& steps, std::vector<Code>& codes) {
    const std::size_t n = names.size();
    std::vector<platform::FileTail> tails(n);
    std::vector<int> fds(n, -1);
    codes.assign(n, code::kOk);
    fs.openTails(katalog, names, tailBytes, tails, fds);
    std::vector<platform::FileSystem::Write> writes;
    std::vector<std::size_t> written;  // the file of each write
    std::vector<std::size_t> again;
    for (std::size_t k = 0; k < n; ++k) {
        if (tails[k].code == code::kTooManyFiles) {
            again.push_back(k);  // once this batch has given its descriptors back
            continue;
        }
        platform::FileSystem::Write write;
        write.fd = fds[k];
        codes[k] = steps.plan(k, tails[k], write);
        if (codes[k] == code::kOk && !write.data.empty()) {
            writes.push_back(write);
            written.push_back(k);
        }
    }
    fs.writeAll(writes);
    for (std::size_t w = 0; w < writes.size(); ++w) {
        if (writes[w].code != code::kOk) {
            codes[written[w]] = writes[w].code;
            steps.rollBack(written[w], writes[w]);
        }
    }
    // Closed only now: a file system may refuse what was written only at the close (NFS).
    std::erase(fds, -1);
    std::vector<Code> closed(fds.size());
    fs.closeAll(fds, closed);
    std::size_t c = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (tails[k].code != code::kOk)
            continue;
        if (codes[k] == code::kOk) {
            codes[k] = closed[c];
            if (steps.closed)
                steps.closed(k, tails[k], closed[c]);
        }
        ++c;
    }
    for (const std::size_t k : again)
        codes[k] = steps.alone(k);
}

void skriv_tags(platform::FileSystem& fs, const QString& katalog, std::span<WriteJob> jobs) {
    std::vector<QString> names;
    std::vector<std::size_t> which;  // the job of each name
    std::vector<Placement> plans;
    std::vector<Code> codes;
    const BatchSteps steps{
        // As in skriv_tag(), each file is read through the descriptor that writes it.
        .plan =
            [&](std::size_t k, const platform::FileTail& tail, BatchSteps::Write& write) {
                if (tail.code != code::kOk)
                    return tail.code;
                WriteJob& job = jobs[which[k]];
                if (job.replan)
                    job.tag = job.replan(tagOfTail(tail));
                const Code c =
                    place(tail.tail(), tail.size, job.tag, job.fields, &job.check, plans[k]);
                if (c == code::kOk) {
                    write.offset = plans[k].offset();
                    write.data = plans[k].out;
                }
                return c;
            },
        .rollBack = [&](std::size_t k,
                        const BatchSteps::Write& write) { rollBack(fs, write.fd, plans[k]); },
        .closed =
            [&](std::size_t k, const platform::FileTail& tail, Code closed) {
                WriteJob& job = jobs[which[k]];
                if (closed == code::kOk)
                    fill(&job.replaced, &job.check, tail.tail(), plans[k]);
                else
                    unconfirmed(job.check);
            },
        .alone =
            [&](std::size_t k) {
                WriteJob& job = jobs[which[k]];
                return writeOne(fs, katalog + job.name, job.tag, job.fields, &job.replaced,
                                &job.check, job.replan);
            },
    };
    for (std::size_t from = 0; from < jobs.size();) {
        names.clear();
        which.clear();
        for (; from < jobs.size() && names.size() < kBatch; ++from) {
            WriteJob& job = jobs[from];
            if (!renderTrailer(job.tag)) {
                job.result = code::kBadArgument;
                continue;
            }
            names.push_back(job.name);
            which.push_back(from);
        }
        plans.assign(names.size(), Placement{});
        writeBatch(fs, katalog, names, kTailSize, steps, codes);
        for (std::size_t k = 0; k < names.size(); ++k)
            jobs[which[k]].result = codes[k];
    }
}

}  // namespace sorvel::tag
