#pragma once

#include <exception>
#include <functional>
#include <initializer_list>
#include <vector>

class QWidget;

//! Runs a command body with `controls` disabled. They are enabled again on every way out,
//! before anything else sees the outcome. An exception that escapes the body is caught here,
//! once, and returned; nothing else in a command catches.
std::exception_ptr RunGuarded(std::initializer_list<QWidget*> controls, const std::function<void()>& body);
