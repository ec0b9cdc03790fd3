#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#include <map>
#include <memory>
#include <random>
#include <vector>

#include "archive/CBTree.h"

namespace {

struct Item
{
    int key;
    int id;
};

struct ItemOrder
{
    static bool Before(const Item *key, const Item *node) { return key->key < node->key; }
    static bool Same(const Item *key, const Item *node) { return key->key == node->key; }
    static bool Before(int key, const Item *node) { return key < node->key; }
    static bool Same(int key, const Item *node) { return key == node->key; }
};

typedef CBTree<Item *, ItemOrder> ItemTree;
typedef std::vector<std::pair<int, int>> Pairs;

// The lowest stack address seen inside the tree's walks, through the walk's
// callback and the node deletes of Clear: a recursive walk of a deep list goes
// one frame down per node.
bool s_watch = false;
uintptr_t s_lowest = UINTPTR_MAX;

__attribute__((noinline)) void NoteStack()
{
    volatile char here = 0;
    if (s_watch)
        s_lowest = std::min(s_lowest, reinterpret_cast<uintptr_t>(&here));
}

void Collect(Item *key, Item *value, void *word)
{
    NoteStack();
    EXPECT_EQ(key, value);
    static_cast<Pairs *>(word)->emplace_back(value->key, value->id);
}

} // namespace

// Random inserts and removals of particular elements against std::multimap,
// which also keeps equal keys in insertion order.
TEST(CBTree, RandomOperationsMatchMultimap)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        std::vector<Item *> live;
        std::multimap<int, int> model;
        ItemTree tree;
        EXPECT_EQ(nullptr, tree.First());
        EXPECT_FALSE(tree.RemoveKey(3));
        std::vector<std::unique_ptr<Item>> store;
        const int keyRange = 1 + round * 7;
        auto forget = [&](const Item *item) {
            auto range = model.equal_range(item->key);
            for (auto it = range.first; it != range.second; ++it) {
                if (it->second == item->id) {
                    model.erase(it);
                    break;
                }
            }
            for (size_t i = 0; i < live.size(); ++i) {
                if (live[i] == item) {
                    live.erase(live.begin() + static_cast<long>(i));
                    break;
                }
            }
        };
        for (int step = 0; step < 1500; ++step) {
            const unsigned op = random() % 10;
            if (op < 6 || live.empty()) {
                store.emplace_back(new Item{static_cast<int>(random() % keyRange), step});
                Item *item = store.back().get();
                ASSERT_NE(nullptr, tree.Insert(item));
                model.emplace(item->key, item->id);
                live.push_back(item);
            } else if (op < 9) {
                // Remove a particular element through its node.
                Item *item = live[random() % live.size()];
                ItemTree::Node *node = tree.First();
                while (node && node->value != item)
                    node = ItemTree::Next(node);
                ASSERT_NE(nullptr, node);
                tree.Remove(node);
                forget(item);
            } else {
                const int key = static_cast<int>(random() % (keyRange + 2)) - 1;
                ItemTree::Node *found = tree.Find(key);
                EXPECT_EQ(model.count(key) > 0, found != nullptr);
                if (found) {
                    Item *item = found->value;
                    EXPECT_EQ(key, item->key);
                    EXPECT_EQ(item, tree.Lookup(key));
                    if (random() % 2) {
                        ASSERT_TRUE(tree.RemoveKey(key));
                        forget(item);
                    }
                }
            }
            ASSERT_EQ(static_cast<int>(model.size()), tree.GetCount());
        }
        const Pairs expected(model.begin(), model.end());
        Pairs visited;
        tree.ForEach(Collect, &visited);
        EXPECT_EQ(expected, visited);
        Pairs backwards;
        for (ItemTree::Node *n = tree.Last(); n; n = ItemTree::Prev(n))
            backwards.emplace_back(n->value->key, n->value->id);
        EXPECT_EQ(Pairs(expected.rbegin(), expected.rend()), backwards);
    }
}

void *operator new(size_t size)
{
    void *p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void operator delete(void *p) noexcept
{
    NoteStack();
    std::free(p);
}
void operator delete(void *p, size_t) noexcept
{
    NoteStack();
    std::free(p);
}

// Sorted insertion makes a list as deep as the tree is large; the walks keep
// their stack flat however deep the tree is.
TEST(CBTree, DegenerateTreeWalksAndClearsWithoutDeepRecursion)
{
    const int n = 4000;
    std::vector<Item> items(n);
    ItemTree tree;
    for (int i = 0; i < n; ++i) {
        items[i] = {i, i};
        ASSERT_NE(nullptr, tree.Insert(&items[i]));
    }
    Pairs visited;
    volatile char top = 0;
    const uintptr_t start = reinterpret_cast<uintptr_t>(&top);
    s_watch = true;
    tree.ForEach(Collect, &visited);
    const uintptr_t walkLowest = s_lowest;
    s_lowest = UINTPTR_MAX;
    tree.Clear();
    const uintptr_t clearLowest = s_lowest;
    s_watch = false;
    for (uintptr_t lowest : {walkLowest, clearLowest}) {
        ASSERT_LT(lowest, start);
        EXPECT_LT(start - lowest, 4096u);
    }
    ASSERT_EQ(static_cast<size_t>(n), visited.size());
    EXPECT_EQ(n - 1, visited.back().second);
    EXPECT_EQ(0, tree.GetCount());
    EXPECT_EQ(nullptr, tree.GetRoot());
    // The elements are the owner's: still there, and insertable again.
    EXPECT_EQ(n - 1, items[n - 1].id);
    tree.Insert(&items[0]);
    EXPECT_EQ(1, tree.GetCount());
}

// A tree fed keys in order (up or down) or shuffled by the shallow insert
// keeps every key in order and reachable, and no leaf deeper than a tree a
// quarter out of balance reaches.
TEST(CBTree, ShallowInsertKeepsOrderAndDepthInAnyFeedOrder)
{
    const int n = 3000;
    std::vector<Item> items(n);
    std::mt19937 random(7);
    for (int feed = 0; feed < 3; ++feed) {
        std::vector<int> keys(n);
        for (int i = 0; i < n; ++i)
            keys[i] = feed == 1 ? n - i : i * 2;
        if (feed == 2)
            std::shuffle(keys.begin(), keys.end(), random);
        ItemTree tree;
        for (int i = 0; i < n; ++i) {
            items[i] = {keys[i], i};
            ASSERT_NE(nullptr, tree.InsertShallow(&items[i]));
        }
        int deepest = 0;
        for (ItemTree::Node *node = tree.First(); node; node = ItemTree::Next(node)) {
            int depth = 0;
            for (ItemTree::Node *up = node; up->parent; up = up->parent) {
                ASSERT_TRUE(up->parent->left == up || up->parent->right == up);
                ++depth;
            }
            deepest = std::max(deepest, depth);
        }
        EXPECT_LE(deepest, 28) << feed; // log base 4/3 of 3000
        Pairs visited;
        tree.ForEach(Collect, &visited);
        ASSERT_EQ((size_t)n, visited.size());
        for (int i = 1; i < n; ++i)
            ASSERT_LT(visited[i - 1].first, visited[i].first) << feed;
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(&items[i], tree.Lookup(keys[i])) << feed;
    }
}
