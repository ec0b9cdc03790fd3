// Heap copies of names and their case-insensitive order, for the name sets.
#pragma once

struct TextData
{
    char *text;

    // Null when out of memory or text is null.
    static TextData *Create(const char *text);
    static void Destroy(TextData *data);
};

struct TextDataCompValue
{
    static bool Before(const TextData *key, const TextData *node);
    static bool Same(const TextData *key, const TextData *node);
    static bool Before(const char *key, const TextData *node);
    static bool Same(const char *key, const TextData *node);
};
