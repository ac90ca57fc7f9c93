#pragma once
// What a process takes from the system's pools without a handle to show for
// it, counted the way Wine lets it be counted: committed private memory by a
// walk of the address space, private heaps through GetProcessHeaps, TLS and
// FLS slots by the index a probe allocation gets (the lowest free one, which a
// slot never given back pushes up), global atoms by asking for the name of
// each atom value, and GDI objects with GetGuiResources where it answers, else
// (under Wine, where it answers 0) by asking the type of each handle index.
namespace standin {

int CommittedPrivateKiB();
int CountHeaps();
int FirstFreeTlsSlot();
int FirstFreeFlsSlot();
int CountGlobalAtoms();
int CountGdiObjects();

} // namespace standin
