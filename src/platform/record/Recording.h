#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/Text.h"
#include "platform/DeviceIo.h"
#include "platform/DeviceManager.h"
#include "platform/Interruption.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

// The bytes a service wrote at `data`.
inline std::span<const uint8_t> BytesAt(const void* data, size_t size)
{
    return {static_cast<const uint8_t*>(data), size};
}

// What the services below have seen so far, shared by all of them.
struct Recording {
    explicit Recording(Interruption& interruption) : RunInterruption(interruption) {}

    // An interrupted run is recorded as interrupted during the call a replay
    // can repeat: the last of InterruptibleCalls entered before the
    // interruption was first seen, inside that call or after it.
    template <typename Call>
    auto Interruptible(std::string_view name, Call call)
    {
        LastInterruptibleCall = name;
        auto result = call();
        NoteInterruption(RunInterruption.Requested());
        return result;
    }
    void NoteInterruption(bool requested)
    {
        std::string& at = Snapshot.Faults.Interrupt;
        if (requested && at.empty() && !LastInterruptibleCall.empty()) {
            at = LastInterruptibleCall;
        }
    }

    Interruption& RunInterruption;
    std::string_view LastInterruptibleCall;
    MachineSnapshot Snapshot;
    std::vector<uint32_t> StartTraceStatuses;  // of every StartTraceW, in order
    uint32_t EnableCalls = 0;
    std::optional<size_t> CurrentEvent;  // the event being delivered, in Snapshot.Events
    // The properties of the event being delivered, which go into it, at
    // their size, once the decoder is done with it.
    SnapshotEventProperties EventScratch;
    // Instance ids compare ignoring the case of their ASCII letters.
    struct IdHash {
        size_t operator()(std::string_view id) const
        {
            uint64_t hash = 14695981039346656037u;  // FNV-1a
            for (char c : id) {
                hash = (hash ^ static_cast<unsigned char>(AsciiLower(c))) * 1099511628211u;
            }
            return static_cast<size_t>(hash);
        }
    };
    struct IdEqual {
        bool operator()(std::string_view left, std::string_view right) const
        {
            return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                              [](char l, char r) { return AsciiLower(l) == AsciiLower(r); });
        }
    };
    // The two lookups below take their entries from one block after another
    // and give them back all at once: they only grow, a run files thousands
    // of devices in them, and freeing each entry on its own cost as much as
    // filing it.
    std::pmr::monotonic_buffer_resource LookupMemory;
    // A device's recorded properties, by its node and by its id, which is
    // the first spelling of it, as it names the device in the snapshot.
    std::pmr::map<DevInst, SnapshotDeviceProperties*> DeviceNodes{&LookupMemory};
    std::pmr::unordered_map<std::string_view, SnapshotDeviceProperties*, IdHash, IdEqual>
        DeviceSpellings{&LookupMemory};
    // The device of DeviceNodes that was asked about last. A run reads a
    // device's values one after another: they gather in DeviceScratch, which
    // goes into the device, at its size, when the run asks about another.
    std::pair<DevInst, SnapshotDeviceProperties*> LastDeviceNode{0, nullptr};
    void AskingAbout(DevInst node, SnapshotDeviceProperties* device)
    {
        if (LastDeviceNode.second != device) {
            if (LastDeviceNode.second != nullptr) {
                *LastDeviceNode.second = DeviceScratch;
            }
            if (device != nullptr) {
                DeviceScratch = *device;
            }
        }
        LastDeviceNode = {node, device};
    }
    SnapshotDeviceProperties DeviceScratch;
    std::map<FileHandle, uint32_t> OpenPorts;
};

}  // namespace dormex
