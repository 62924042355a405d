// The set of folders or directory extents that a walk over a source has
// entered, shared by the folder walk and the image reader.
#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdinternal.h"

static IdSlot *id_slot(IdSlot *slots, uint32_t room, uint64_t a, uint64_t b)
{
    uint32_t i = (uint32_t)(((a * 0x9E3779B97F4A7C15ull) ^ b) * 0x9E3779B97F4A7C15ull >> 40) & (room - 1);
    while (slots[i].used && (slots[i].a != a || slots[i].b != b))
        i = (i + 1) & (room - 1);
    return &slots[i];
}

void id_set_clear(IdSet *set)
{
    if (set->slots)
        memset(set->slots, 0, sizeof(IdSlot) * set->room);
    set->count = 0;
}

static int id_set_grow(IdSet *set)
{
    uint32_t room = set->room ? set->room * 2 : 256;
    IdSlot *slots = (IdSlot *)calloc(room, sizeof(IdSlot));
    if (!slots)
        return 0;
    for (uint32_t i = 0; i < set->room; i++) {
        const IdSlot *old = &set->slots[i];
        if (old->used)
            *id_slot(slots, room, old->a, old->b) = *old;
    }
    free(set->slots);
    set->slots = slots;
    set->room = room;
    return 1;
}

int id_set_add(IdSet *set, uint64_t a, uint64_t b)
{
    if (set->count + 1 > set->room / 2 && !id_set_grow(set))
        return 1;
    IdSlot *slot = id_slot(set->slots, set->room, a, b);
    if (slot->used)
        return 0;
    slot->a = a;
    slot->b = b;
    slot->used = 1;
    set->count++;
    return 1;
}
