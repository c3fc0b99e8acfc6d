#include "ui/framework_errors.h"

#include <cstdio>

#include "errors/raise.h"

namespace kestrel::ui {

namespace {

std::string_view Description(FrameworkError error) {
    switch (error) {
        case FrameworkError::kNonDefinedId:
            return "Non defined Id";
        case FrameworkError::kDuplicatedId:
            return "Duplicated Id";
        case FrameworkError::kCannotCreateDialog:
            return "Cannot create Dialog Box";
    }
    return "";
}

}  // namespace

std::string ControlIdOperation(int id) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%6d", id);
    return std::string("No: ") + digits;
}

std::string DialogOperation(std::string_view resource_name, std::string_view caption) {
    std::string operation = "\r\n" + std::string(22, ' ');
    if (!resource_name.empty()) {
        operation += "Resource: ";
        operation += resource_name;
    } else {
        operation += "Title: ";
        operation += caption;
    }
    return operation;
}

errors::ErrorRecord MakeFrameworkError(FrameworkError error, std::string operation) {
    errors::ErrorRecord record;
    record.SEVERITY = 2;
    record.SUBSYSTEM = std::string(kFrameworkSubsystem);
    record.SUBCODE = static_cast<int>(error);
    record.DESCRIPTION = std::string(Description(error));
    record.OPERATION = std::move(operation);
    record.CANDEFAULT = false;
    return record;
}

void RaiseFrameworkError(FrameworkError error, std::string operation) {
    errors::RaiseError(MakeFrameworkError(error, std::move(operation)));
}

}  // namespace kestrel::ui
