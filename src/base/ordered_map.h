// OrderedMap: a sorted multimap from a String key to a value, kept as a skip list. Keys are
// ordered byte-wise (String's less-than); equal keys are allowed and the newest comes first.
// Used for DNS answers, the message header map and XML attributes. A map made with the lock
// option holds the process-wide lock around every operation.
#pragma once

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <new>

#include "base/string.h"

namespace qarvel {

// The process-wide lock of locked maps (created on first use).
std::recursive_mutex& orderedMapLock();

template <typename Value>
class BasicOrderedMap {
    static constexpr int kLevels = 31;

    // A node carries only the links of its own level, stored right behind it: most nodes
    // have one or two, and a map of many small entries (the attributes of a large XML
    // document) would otherwise spend most of its memory on links that are never used.
    struct Node {
        String key;
        Value value;
        int level = 0;
        Node** forward = nullptr;
    };

    static Node* newNode(const String& key, const Value& value, int level) {
        void* block = ::operator new(sizeof(Node) + sizeof(Node*) * static_cast<size_t>(level + 1));
        Node* node = new (block) Node{key, value, level, nullptr};
        node->forward = reinterpret_cast<Node**>(static_cast<char*>(block) + sizeof(Node));
        for (int i = 0; i <= level; ++i) node->forward[i] = nullptr;
        return node;
    }
    static void deleteNode(Node* node) {
        node->~Node();
        ::operator delete(node);
    }

public:
    explicit BasicOrderedMap(bool locked = false) : locked_(locked) {
        head_.forward = headLinks_;
        // Seeded once: a document makes one map per element with attributes, and reseeding
        // costs more than the map.
        static const bool seeded = (std::srand(static_cast<unsigned>(std::time(nullptr)) | 1u), true);
        (void)seeded;
    }
    ~BasicOrderedMap() { clear(); }
    BasicOrderedMap(const BasicOrderedMap&) = delete;
    BasicOrderedMap& operator=(const BasicOrderedMap&) = delete;

    void insert(const String& key, const Value& value) {
        Guard guard(*this);
        Node* update[kLevels];
        Node* x = &head_;
        for (int i = top_; i >= 0; --i) {
            // Stop in front of the first node whose key is not less: the new node goes before
            // the nodes that already carry its key.
            while (x->forward[i] && x->forward[i]->key < key) x = x->forward[i];
            update[i] = x;
        }
        int level = randomLevel();
        if (level > top_) {
            for (int i = top_ + 1; i <= level; ++i) update[i] = &head_;
            top_ = level;
        }
        Node* node = newNode(key, value, level);
        for (int i = 0; i <= level; ++i) {
            node->forward[i] = update[i]->forward[i];
            update[i]->forward[i] = node;
        }
        ++count_;
    }

    // The first (newest) value with this key, or null.
    const Value* find(const String& key) const {
        Guard guard(*this);
        const Node* x = &head_;
        for (int i = top_; i >= 0; --i)
            while (x->forward[i] && x->forward[i]->key < key) x = x->forward[i];
        x = x->forward[0];
        return (x && x->key == key) ? &x->value : nullptr;
    }
    Value* find(const String& key) {
        return const_cast<Value*>(static_cast<const BasicOrderedMap*>(this)->find(key));
    }

    // Calls visit(key, value) for every entry in key order; stops early when visit returns false.
    template <typename Visit>
    void forEach(Visit visit) const {
        Guard guard(*this);
        for (const Node* x = head_.forward[0]; x; x = x->forward[0])
            if (!visit(x->key, x->value)) break;
    }

    size_t size() const { return count_; }
    size_t count() const { return count_; }

    void clear() {
        Guard guard(*this);
        Node* x = head_.forward[0];
        while (x) {
            Node* next = x->forward[0];
            deleteNode(x);
            x = next;
        }
        for (Node*& f : headLinks_) f = nullptr;
        top_ = 0;
        count_ = 0;
    }

private:
    struct Guard {
        explicit Guard(const BasicOrderedMap& map) : locked(map.locked_) {
            if (locked) orderedMapLock().lock();
        }
        ~Guard() {
            if (locked) orderedMapLock().unlock();
        }
        bool locked;
    };

    // 0 when the first draw is 8191 or more, else the run of draws below 8191, capped at 30.
    static int randomLevel() {
        int level = 0;
        while (level < kLevels - 1 && (std::rand() & 0x7fff) < 8191) ++level;
        return level;
    }

    Node head_;
    Node* headLinks_[kLevels] = {};
    int top_ = 0;
    size_t count_ = 0;
    bool locked_;
};

using OrderedMap = BasicOrderedMap<String>;

}  // namespace qarvel
