#!/usr/bin/python3
"""Writes four tiny ONNX models with the engine's exact input/output layouts,
whose outputs are simple functions of the input so that tests can steer them
by painting pixels.

    make_test_models.py OUT_DIR

Detector (input 1x3x640x640, values (v - 127.5) / 128, so v is recovered
exactly as x * 128 + 127.5). Stride 8 reads colour plane 0 (B), stride 16 plane
1 (G), stride 32 plane 2 (R). For the cell at (row, col) of a stride s, with
(y, x) = (row * s, col * s) in the 640 x 640 input:
    score            = v(y, x) / 256                  (first anchor; second is 0)
    box distance k   = v(y + 1 + k, x) / 16           (k = 0..3, stride units)
    landmark j (x/y) = (v(y + 5, x + j) - 128) / 16   and
                       (v(y + 6, x + j) - 128) / 16   (j = 0..4, stride units)
Recogniser (1x3x112x112): 14 x 14 average pooling of each plane (192 values),
centred on their mean, then 320 zeros: equal crops give equal embeddings,
unrelated textures nearly orthogonal ones.
Expression (1x1x64x64 raw grey): logits [0, (mean - 128) / 16, -100 x 6], so a
bright face is happy, a dark one neutral.
Eye (1x3x32x32, (v - 127) / 255): open probability clip(mean + 0.5, 0, 1), so
bright eye windows are open and dark ones closed; output [closed, open].
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 13


def const(name, array, dtype=np.int64):
    return numpy_helper.from_array(np.asarray(array, dtype=dtype), name)


def floats(name, shape):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, shape)


def save(path, name, nodes, inits, model_input, outputs):
    """Checks and writes the model of graph `name`: `nodes` from `model_input` to `outputs`."""
    graph = helper.make_graph(nodes, name, [model_input], outputs, inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="keepframe-test-models")
    model.ir_version = 8
    onnx.checker.check_model(model)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    onnx.save(model, path)


def detector(path, size=640):
    nodes, inits, outputs = [], [], []
    inits += [const("k128", [128.0], np.float32), const("k127_5", [127.5], np.float32)]
    nodes.append(helper.make_node("Mul", ["input.1", "k128"], ["scaled"]))
    nodes.append(helper.make_node("Add", ["scaled", "k127_5"], ["v"]))  # back to 0..255

    def sample(tag, channel, dy, dx, stride):
        """v[:, channel, dy::stride, dx::stride] as [1, 1, G, G]."""
        g = size // stride
        name = f"{tag}_c{channel}_{dy}_{dx}_{stride}"
        inits.extend([
            const(name + "_starts", [channel, dy, dx]),
            const(name + "_ends", [channel + 1, dy + stride * (g - 1) + 1, dx + stride * (g - 1) + 1]),
            const(name + "_axes", [1, 2, 3]),
            const(name + "_steps", [1, stride, stride]),
        ])
        nodes.append(helper.make_node(
            "Slice", ["v", name + "_starts", name + "_ends", name + "_axes", name + "_steps"], [name]))
        return name

    def per_anchor(name, planes, stride, second_zero):
        """Stacks K planes [1,1,G,G] into [2*G*G, K], two anchors per cell."""
        g = size // stride
        k = len(planes)
        nodes.append(helper.make_node("Concat", planes, [name + "_stack"], axis=1))          # [1,K,G,G]
        nodes.append(helper.make_node("Transpose", [name + "_stack"], [name + "_t"], perm=[0, 2, 3, 1]))  # [1,G,G,K]
        inits.append(const(name + "_shape1", [g * g, 1, k]))
        nodes.append(helper.make_node("Reshape", [name + "_t", name + "_shape1"], [name + "_a"]))
        if second_zero:
            inits.append(const(name + "_zero", [0.0], np.float32))
            nodes.append(helper.make_node("Mul", [name + "_a", name + "_zero"], [name + "_b"]))
            second = name + "_b"
        else:
            second = name + "_a"
        nodes.append(helper.make_node("Concat", [name + "_a", second], [name + "_pair"], axis=1))  # [GG,2,K]
        inits.append(const(name + "_shape2", [2 * g * g, k]))
        nodes.append(helper.make_node("Reshape", [name + "_pair", name + "_shape2"], [name]))
        outputs.append(floats(name, [2 * g * g, k]))

    def affine(src, mul, add, tag):
        inits.extend([const(tag + "_m", [mul], np.float32), const(tag + "_c", [add], np.float32)])
        nodes.append(helper.make_node("Mul", [src, tag + "_m"], [tag + "_x"]))
        nodes.append(helper.make_node("Add", [tag + "_x", tag + "_c"], [tag]))
        return tag

    strides = [8, 16, 32]
    for c, s in enumerate(strides):
        p = affine(sample("s", c, 0, 0, s), 1 / 256, 0.0, f"score{s}_p")
        per_anchor(f"score_{s}", [p], s, second_zero=True)
    for c, s in enumerate(strides):
        planes = [affine(sample("b", c, 1 + k, 0, s), 1 / 16, 0.0, f"bbox{s}_{k}") for k in range(4)]
        per_anchor(f"bbox_{s}", planes, s, second_zero=False)
    for c, s in enumerate(strides):
        planes = []
        for j in range(5):
            planes.append(affine(sample("kx", c, 5, j, s), 1 / 16, -8.0, f"kps{s}_{j}x"))
            planes.append(affine(sample("ky", c, 6, j, s), 1 / 16, -8.0, f"kps{s}_{j}y"))
        per_anchor(f"kps_{s}", planes, s, second_zero=False)

    save(path, "test_detector", nodes, inits, floats("input.1", [1, 3, size, size]), outputs)


def recognizer(path):
    inits = [const("shape", [1, 192]), const("zeros", np.zeros((1, 320)), np.float32)]
    nodes = [
        helper.make_node("AveragePool", ["input.1"], ["pooled"], kernel_shape=[14, 14], strides=[14, 14]),
        helper.make_node("Reshape", ["pooled", "shape"], ["flat"]),
        helper.make_node("ReduceMean", ["flat"], ["mean"], axes=[1], keepdims=1),
        helper.make_node("Sub", ["flat", "mean"], ["centred"]),
        helper.make_node("Concat", ["centred", "zeros"], ["embedding"], axis=1),
    ]
    save(path, "test_recognizer", nodes, inits, floats("input.1", [1, 3, 112, 112]),
         [floats("embedding", [1, 512])])


def expression(path):
    inits = [
        const("k16", [1 / 16], np.float32), const("k128", [128.0], np.float32),
        const("zero", np.zeros((1, 1)), np.float32), const("rest", np.full((1, 6), -100.0), np.float32),
        const("shape", [1, 1]),
    ]
    nodes = [
        helper.make_node("ReduceMean", ["Input3"], ["mean4"], axes=[1, 2, 3], keepdims=0),
        helper.make_node("Reshape", ["mean4", "shape"], ["mean"]),
        helper.make_node("Sub", ["mean", "k128"], ["centred"]),
        helper.make_node("Mul", ["centred", "k16"], ["happy"]),
        helper.make_node("Concat", ["zero", "happy", "rest"], ["Plus692_Output_0"], axis=1),
    ]
    save(path, "test_expression", nodes, inits, floats("Input3", [1, 1, 64, 64]),
         [floats("Plus692_Output_0", [1, 8])])


def eye(path):
    inits = [const("half", [0.5], np.float32), const("one", [1.0], np.float32), const("lo", 0.0, np.float32),
             const("hi", 1.0, np.float32), const("shape", [1, 1])]
    nodes = [
        helper.make_node("ReduceMean", ["input.1"], ["mean4"], axes=[1, 2, 3], keepdims=0),
        helper.make_node("Reshape", ["mean4", "shape"], ["mean"]),
        helper.make_node("Add", ["mean", "half"], ["shifted"]),
        helper.make_node("Clip", ["shifted", "lo", "hi"], ["open"]),
        helper.make_node("Sub", ["one", "open"], ["closed"]),
        helper.make_node("Concat", ["closed", "open"], ["19"], axis=1),
    ]
    save(path, "test_eye", nodes, inits, floats("input.1", [1, 3, 32, 32]), [floats("19", [1, 2])])


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_test_models.py OUT_DIR")
    out = sys.argv[1]
    detector(os.path.join(out, "buffalo_l", "det_10g.onnx"))
    recognizer(os.path.join(out, "buffalo_l", "w600k_r50.onnx"))
    expression(os.path.join(out, "emotion-ferplus-8.onnx"))
    eye(os.path.join(out, "open_closed_eye.onnx"))


if __name__ == "__main__":
    main()
