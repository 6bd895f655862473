/**
 * What changed in a tree: {@link com.durvo.ufe.fsutil.change.TreeSnapshot}
 * keeps what a tree holds (every entry by the exact bytes of its path, with the
 * attributes that tell a change), in memory or in a file, and
 * {@link com.durvo.ufe.fsutil.change.TreeSnapshot#diff} gives the
 * {@link com.durvo.ufe.fsutil.change.TreeChange}s from one snapshot to
 * another: entries added, removed, modified or renamed.
 */
package com.durvo.ufe.fsutil.change;
