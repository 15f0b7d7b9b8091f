#include "CardNames.h"

#include "../card/ModelTable.h"

const char* GetCardName(int code) {
    return vjx::models::FileModelName(code);
}
