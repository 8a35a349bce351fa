#include "ui/prompt.h"

const char kQuestionCaption[] = " 提示";
