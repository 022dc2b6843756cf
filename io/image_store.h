// The pixel store of image!: image nodes and the handle kind "image".
//
// An image node is a 24-byte byte series of six 32-bit words:
//   0 flags (0x01: the pixels are current; always set here)
//   1, 2 unused (0): the source and bitmap slots of the node layout
//   3 size: width in bits 0-15, height in bits 16-31
//   4 the index of the node's record in the external-handle table
//   5 unused (0): the transient slot
// The handle record of kind "image" owns the node's pixels: one malloc'd
// straight-alpha BGRA buffer, rows of 4 x width bytes. The kind's release
// callback (release_node) frees it when a collection finds the record
// unmarked, or at once through `release`; either way exactly once. A node
// whose pixels were released answers null for its pixels, and the callers
// raise access/bad-media for that.
//
// Nodes are made after the pixels, and the handle record is taken after the
// node: a collection run by the node's allocation cannot sweep a record that
// no value holds yet.
#pragma once
#include <cstdint>

#include "runtime/memory.h"

namespace vyx::imaging {

enum NodeWord : uint32_t { NODE_FLAGS = 0, NODE_SOURCE, NODE_BITMAP, NODE_SIZE, NODE_HANDLE, NODE_TRANSIENT };
constexpr uint32_t NODE_WORDS = 6;
constexpr uint32_t FLAG_CURRENT = 0x01;

// Registers the handle kind "image" (once per runtime, from image!'s
// registration). Answers the kind's number.
uint32_t init_factory();

// A new node owning `pixels` (malloc'd, width x height x 4 bytes; given back
// when the node cannot be made). The node must reach a rooted cell before
// anything else allocates.
Node make_node(uint32_t width, uint32_t height, uint8_t* pixels);

// The node's pixels, null once released. Only good until the pixels are
// released (nothing in the series heap moves them).
uint8_t* pixels(Node node);
// As pixels(), raising access/bad-media when they are gone (a failed lock).
uint8_t* lock_pixels(Node node);

// The collector's step for a reachable node: keeps its handle record.
void mark_node(Node node);
// The release callback of the kind: frees a pixel buffer.
void release_node(void* object);
// Frees the node's pixels now; the record stays until the collection that
// finds it unmarked, which then has nothing left to free.
void release(Node node);

// Pixel buffers freed so far in this process (tests watch it).
uint64_t released_count();

}  // namespace vyx::imaging
