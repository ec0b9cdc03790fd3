// Unbalanced binary search tree behind every name-keyed collection of the archive.
#pragma once

#include <cstddef>
#include <new>

// The ordering rule C supplies, for the element type T and any key type K it
// accepts (an element, or a name):
//   static bool Before(const K& key, const T& node)  key belongs left of node
//   static bool Same(const K& key, const T& node)    lookup stops here
// Equal keys go right, so elements with equal keys keep their insertion order.
//
// Walks are iterative over parent links: trees fed names in sorted order
// degenerate into lists, and recursion would then run as deep as the count.
template <class T, class C>
class CBTree
{
public:
    struct Node
    {
        T key;
        T value;
        Node *left;
        Node *right;
        Node *parent;
    };

    typedef void (*ForEachFunc)(T key, T value, void *word);

    CBTree() : m_count(0), m_root(nullptr) {}
    CBTree(const CBTree &) = delete;
    CBTree &operator=(const CBTree &) = delete;

    virtual int GetCount() const { return m_count; }

    // The elements belong to the owner, who deletes them before the tree.
    virtual ~CBTree() { Clear(); }

    Node *GetRoot() const { return m_root; }

    // Attaches the element as a leaf; null when no node can be allocated.
    Node *Insert(T element)
    {
        Node *node = new (std::nothrow) Node;
        if (!node)
            return nullptr;
        node->key = element;
        node->value = element;
        node->left = nullptr;
        node->right = nullptr;
        node->parent = nullptr;

        Node *parent = nullptr;
        Node **link = &m_root;
        while (*link) {
            parent = *link;
            link = C::Before(element, parent->key) ? &parent->left : &parent->right;
        }
        node->parent = parent;
        *link = node;
        ++m_count;
        return node;
    }

    // Insert for a tree ordered by its keys alone, which may take any shape
    // that keeps their order (not the folder tree, whose shape says which
    // folder holds which). Keys in sorted order would make a list of it, and
    // every insert and lookup a walk of the count: when the new leaf lies
    // deeper than a tree a quarter out of balance reaches, the lowest
    // ancestor that is more out of balance than that is rebuilt balanced.
    Node *InsertShallow(T element)
    {
        Node *node = Insert(element);
        if (!node)
            return nullptr;
        int depth = 0;
        for (Node *n = node; n->parent; n = n->parent)
            ++depth;
        int limit = 0;
        for (double reach = 1.0; reach < m_count; reach *= 4.0 / 3.0)
            ++limit;
        if (depth <= limit)
            return node;
        int size = 1;
        for (Node *child = node, *p = node->parent; p; child = p, p = p->parent) {
            const int total = size + 1 + Count(p->left == child ? p->right : p->left);
            if (4 * size > 3 * total) {
                Rebuild(p, total);
                break;
            }
            size = total;
        }
        return node;
    }

    // Relinks the whole tree middle-first (the middle of every range at its
    // top), keeping every node: false without memory for the list of nodes,
    // and then the tree is as it was.
    bool Balance()
    {
        return !m_root || Rebuild(m_root, m_count);
    }

    // The first node on the path from the root that compares equal.
    template <class K>
    Node *Find(const K &key) const
    {
        Node *node = m_root;
        while (node) {
            if (C::Same(key, node->key))
                return node;
            node = C::Before(key, node->key) ? node->left : node->right;
        }
        return nullptr;
    }

    template <class K>
    T Lookup(const K &key) const
    {
        Node *node = Find(key);
        return node ? node->value : T();
    }

    // Unlinks and frees the node. A node with two children is replaced by its
    // in-order predecessor, which is relinked rather than copied, so pointers to
    // every other node stay valid.
    void Remove(Node *node)
    {
        if (!node)
            return;
        if (node->left && node->right) {
            Node *pred = node->left;
            while (pred->right)
                pred = pred->right;
            if (pred != node->left) {
                Replace(pred, pred->left);
                pred->left = node->left;
                pred->left->parent = pred;
            }
            pred->right = node->right;
            pred->right->parent = pred;
            Replace(node, pred);
        } else {
            Replace(node, node->left ? node->left : node->right);
        }
        delete node;
        --m_count;
    }

    template <class K>
    bool RemoveKey(const K &key)
    {
        Node *node = Find(key);
        if (!node)
            return false;
        Remove(node);
        return true;
    }

    // In order: left subtree, node, right subtree.
    void ForEach(ForEachFunc func, void *word) const
    {
        for (Node *node = First(); node; node = Next(node))
            func(node->key, node->value, word);
    }

    Node *First() const { return m_root ? Leftmost(m_root) : nullptr; }
    Node *Last() const { return m_root ? Rightmost(m_root) : nullptr; }

    static Node *Next(Node *node)
    {
        if (node->right)
            return Leftmost(node->right);
        while (node->parent && node->parent->right == node)
            node = node->parent;
        return node->parent;
    }

    static Node *Prev(Node *node)
    {
        if (node->left)
            return Rightmost(node->left);
        while (node->parent && node->parent->left == node)
            node = node->parent;
        return node->parent;
    }

    // Frees every node; the elements are left to the owner.
    void Clear()
    {
        Node *node = m_root;
        while (node) {
            if (node->left) {
                node = node->left;
            } else if (node->right) {
                node = node->right;
            } else {
                Node *parent = node->parent;
                if (parent) {
                    if (parent->left == node)
                        parent->left = nullptr;
                    else
                        parent->right = nullptr;
                }
                delete node;
                node = parent;
            }
        }
        m_root = nullptr;
        m_count = 0;
    }

private:
    static Node *Leftmost(Node *node)
    {
        while (node->left)
            node = node->left;
        return node;
    }

    static Node *Rightmost(Node *node)
    {
        while (node->right)
            node = node->right;
        return node;
    }

    // The nodes below and including node, by a walk in order that needs no memory.
    static int Count(Node *node)
    {
        if (!node)
            return 0;
        int count = 0;
        for (Node *n = Leftmost(node), *end = Next(Rightmost(node)); n != end; n = Next(n))
            ++count;
        return count;
    }

    // Relinks the subtree below top, its nodes in the same order, middle
    // first. Without memory for the list the tree keeps its shape: deeper,
    // never wrong.
    bool Rebuild(Node *top, int size)
    {
        Node **nodes = new (std::nothrow) Node *[(size_t)size];
        if (!nodes)
            return false;
        Node *parent = top->parent;
        const bool left = parent && parent->left == top;
        Node *n = Leftmost(top);
        for (int i = 0; i < size; i++, n = Next(n))
            nodes[i] = n;
        Node *built = Build(nodes, 0, (size_t)size, parent);
        delete[] nodes;
        if (!parent)
            m_root = built;
        else if (left)
            parent->left = built;
        else
            parent->right = built;
        return true;
    }

    static Node *Build(Node *const *nodes, size_t lo, size_t hi, Node *parent)
    {
        if (lo >= hi)
            return nullptr;
        const size_t mid = (lo + hi) / 2;
        Node *n = nodes[mid];
        n->parent = parent;
        n->left = Build(nodes, lo, mid, n);
        n->right = Build(nodes, mid + 1, hi, n);
        return n;
    }

    // Puts child (possibly null) where node hangs.
    void Replace(Node *node, Node *child)
    {
        if (child)
            child->parent = node->parent;
        if (!node->parent)
            m_root = child;
        else if (node->parent->left == node)
            node->parent->left = child;
        else
            node->parent->right = child;
    }

    int m_count;
    Node *m_root;
};
