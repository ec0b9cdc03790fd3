// Heap copies of names and their case-insensitive order, for the name sets.
#include "TextData.h"

#include <cstring>
#include <new>

#include "ParcelName.h"

TextData *TextData::Create(const char *text)
{
    if (!text)
        return nullptr;
    const size_t length = std::strlen(text);
    TextData *data = new (std::nothrow) TextData;
    if (!data)
        return nullptr;
    data->text = new (std::nothrow) char[length + 1];
    if (!data->text) {
        delete data;
        return nullptr;
    }
    std::memcpy(data->text, text, length + 1);
    return data;
}

void TextData::Destroy(TextData *data)
{
    if (!data)
        return;
    delete[] data->text;
    delete data;
}

bool TextDataCompValue::Before(const TextData *key, const TextData *node)
{
    return ParcelNameCompare(key->text, node->text) < 0;
}

bool TextDataCompValue::Same(const TextData *key, const TextData *node)
{
    return ParcelNameCompare(key->text, node->text) == 0;
}

bool TextDataCompValue::Before(const char *key, const TextData *node)
{
    return ParcelNameCompare(key, node->text) < 0;
}

bool TextDataCompValue::Same(const char *key, const TextData *node)
{
    return ParcelNameCompare(key, node->text) == 0;
}
