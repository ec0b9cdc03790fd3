#include <gtest/gtest.h>

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

// (key, id) in tree order, read through First/Next.
std::vector<std::pair<int, int>> InOrder(const ItemTree &tree)
{
    std::vector<std::pair<int, int>> out;
    for (ItemTree::Node *n = tree.First(); n; n = ItemTree::Next(n))
        out.emplace_back(n->value->key, n->value->id);
    return out;
}

void Collect(Item *key, Item *value, void *word)
{
    EXPECT_EQ(key, value);
    static_cast<std::vector<int> *>(word)->push_back(value->id);
}

// Parent links agree with child links and the count matches the nodes.
int CheckLinks(ItemTree::Node *node, ItemTree::Node *parent)
{
    if (!node)
        return 0;
    EXPECT_EQ(parent, node->parent);
    if (node->left) {
        EXPECT_FALSE(node->value->key < node->left->value->key);
    }
    if (node->right) {
        EXPECT_FALSE(node->right->value->key < node->value->key);
    }
    return 1 + CheckLinks(node->left, node) + CheckLinks(node->right, node);
}

} // namespace

TEST(CBTree, EmptyTreeHasNothing)
{
    ItemTree tree;
    EXPECT_EQ(0, tree.GetCount());
    EXPECT_EQ(nullptr, tree.GetRoot());
    EXPECT_EQ(nullptr, tree.First());
    EXPECT_EQ(nullptr, tree.Find(3));
    EXPECT_FALSE(tree.RemoveKey(3));
    tree.Clear();
    EXPECT_EQ(0, tree.GetCount());
}

TEST(CBTree, EqualKeysGoRightAndKeepInsertionOrder)
{
    Item a{5, 1}, b{5, 2}, c{5, 3};
    ItemTree tree;
    tree.Insert(&a);
    tree.Insert(&b);
    tree.Insert(&c);
    EXPECT_EQ(&a, tree.GetRoot()->value);
    EXPECT_EQ(&b, tree.GetRoot()->right->value);
    EXPECT_EQ(&c, tree.GetRoot()->right->right->value);
    // Lookup stops at the first equal node on the path: the root.
    EXPECT_EQ(&a, tree.Lookup(5));
}

TEST(CBTree, RemovalOfNodeWithTwoChildrenMovesPredecessorUp)
{
    Item m{50, 0}, l{30, 1}, r{70, 2}, lr{40, 3}, lrl{35, 4};
    ItemTree tree;
    for (Item *i : {&m, &l, &r, &lr, &lrl})
        tree.Insert(i);
    ItemTree::Node *nodeL = tree.Find(30);
    ItemTree::Node *nodeR = tree.Find(70);
    ItemTree::Node *nodeLr = tree.Find(40);
    ItemTree::Node *nodeLrl = tree.Find(35);

    tree.Remove(tree.GetRoot());
    // The predecessor 40 takes the root's place; its left child 35 moves up to it.
    ASSERT_EQ(nodeLr, tree.GetRoot());
    EXPECT_EQ(nodeL, nodeLr->left);
    EXPECT_EQ(nodeR, nodeLr->right);
    EXPECT_EQ(nodeLrl, nodeL->right);
    EXPECT_EQ(4, CheckLinks(tree.GetRoot(), nullptr));
    EXPECT_EQ(4, tree.GetCount());
    // Surviving nodes are the same objects.
    EXPECT_EQ(nodeLrl, tree.Find(35));
}

TEST(CBTree, ForEachVisitsInOrderWithTheCallerWord)
{
    Item items[] = {{4, 0}, {2, 1}, {6, 2}, {1, 3}, {3, 4}, {5, 5}};
    ItemTree tree;
    for (Item &i : items)
        tree.Insert(&i);
    std::vector<int> ids;
    tree.ForEach(Collect, &ids);
    EXPECT_EQ((std::vector<int>{3, 1, 4, 0, 5, 2}), ids);
}

TEST(CBTree, ClearLeavesElementsAlone)
{
    Item a{1, 7};
    ItemTree tree;
    tree.Insert(&a);
    tree.Clear();
    EXPECT_EQ(0, tree.GetCount());
    EXPECT_EQ(nullptr, tree.GetRoot());
    EXPECT_EQ(7, a.id);
    tree.Insert(&a);
    EXPECT_EQ(1, tree.GetCount());
}

TEST(CBTree, DegenerateTreeWalksAndClearsWithoutDeepRecursion)
{
    // Sorted insertion makes a list 50000 nodes deep.
    const int n = 50000;
    std::vector<Item> items(n);
    ItemTree tree;
    for (int i = 0; i < n; ++i) {
        items[i] = {i, i};
        ASSERT_NE(nullptr, tree.Insert(&items[i]));
    }
    std::vector<int> ids;
    tree.ForEach(Collect, &ids);
    ASSERT_EQ(static_cast<size_t>(n), ids.size());
    EXPECT_EQ(n - 1, ids.back());
    EXPECT_EQ(&items[n - 1], tree.Last()->value);
    EXPECT_EQ(&items[n - 2], ItemTree::Prev(tree.Last())->value);
    tree.Clear();
    EXPECT_EQ(0, tree.GetCount());
}

// Random inserts and removals of particular elements against std::multimap,
// which also keeps equal keys in insertion order.
TEST(CBTree, RandomOperationsMatchMultimap)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        std::vector<Item *> live;
        std::multimap<int, int> model;
        ItemTree tree;
        std::vector<std::unique_ptr<Item>> store;
        const int keyRange = 1 + round * 7;
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
                const size_t pick = random() % live.size();
                Item *item = live[pick];
                ItemTree::Node *node = tree.First();
                while (node && node->value != item)
                    node = ItemTree::Next(node);
                ASSERT_NE(nullptr, node);
                tree.Remove(node);
                auto range = model.equal_range(item->key);
                for (auto it = range.first; it != range.second; ++it) {
                    if (it->second == item->id) {
                        model.erase(it);
                        break;
                    }
                }
                live.erase(live.begin() + static_cast<long>(pick));
            } else {
                const int key = static_cast<int>(random() % (keyRange + 2)) - 1;
                ItemTree::Node *found = tree.Find(key);
                EXPECT_EQ(model.count(key) > 0, found != nullptr);
                if (found) {
                    EXPECT_EQ(key, found->value->key);
                }
                if (found && random() % 2) {
                    const int id = found->value->id;
                    tree.Remove(found);
                    auto range = model.equal_range(key);
                    for (auto it = range.first; it != range.second; ++it) {
                        if (it->second == id) {
                            model.erase(it);
                            break;
                        }
                    }
                    for (size_t i = 0; i < live.size(); ++i) {
                        if (live[i]->id == id) {
                            live.erase(live.begin() + static_cast<long>(i));
                            break;
                        }
                    }
                }
            }
            ASSERT_EQ(static_cast<int>(model.size()), tree.GetCount());
        }
        const std::vector<std::pair<int, int>> expected(model.begin(), model.end());
        EXPECT_EQ(expected, InOrder(tree));
        EXPECT_EQ(tree.GetCount(), CheckLinks(tree.GetRoot(), nullptr));
        // Walking backwards gives the reverse.
        std::vector<std::pair<int, int>> backwards;
        for (ItemTree::Node *n = tree.Last(); n; n = ItemTree::Prev(n))
            backwards.emplace_back(n->value->key, n->value->id);
        const std::vector<std::pair<int, int>> reversed(expected.rbegin(), expected.rend());
        EXPECT_EQ(reversed, backwards);
    }
}
