#pragma once
// The module-wide lists (watchers, area entries, handle lists, suspended
// windows) are doubly linked through next and prev, newest at the head.

namespace dovemarl::runtime {

template <typename Node> void PushFront(Node*& head, Node* node) {
    node->prev = nullptr;
    node->next = head;
    if (head != nullptr) {
        head->prev = node;
    }
    head = node;
}

template <typename Node> void Unlink(Node*& head, Node* node) {
    if (node->prev != nullptr) {
        node->prev->next = node->next;
    } else {
        head = node->next;
    }
    if (node->next != nullptr) {
        node->next->prev = node->prev;
    }
    node->next = node->prev = nullptr;
}

} // namespace dovemarl::runtime
