#pragma once
// Errors of the folder tree.
#include "base/Exception.h"

class EDirectoryError : public Exception {
public:
    using Exception::Exception;
    const char* className() const override { return "EDirectoryError"; }
};

// A root folder that cannot be read, or a folder path outside every root.
class ESetDirectoryError : public EDirectoryError {
public:
    using EDirectoryError::EDirectoryError;
    const char* className() const override { return "ESetDirectoryError"; }
};
