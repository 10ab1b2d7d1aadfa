import React, { useEffect, useRef, useState } from 'react';
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

// The lit globe drawn by `renderer` on `canvas`, turned by the mouse: what the preview changes of it
// (its size, its texture), and how to give it all back.
function makeWorld(renderer, canvas) {
  renderer.outputColorSpace = THREE.SRGBColorSpace;
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x111111);
  const camera = new THREE.PerspectiveCamera(35, 1, 0.1, 100);
  camera.position.set(0, 0, 3.6);
  // Light from the upper left, and enough all round that the night side still shows.
  const sun = new THREE.DirectionalLight(0xffffff, 2.2);
  sun.position.set(-3, 2, 4);
  scene.add(sun, new THREE.AmbientLight(0xffffff, 0.9));
  const material = new THREE.MeshLambertMaterial({ color: 0xffffff });
  const globe = new THREE.Mesh(new THREE.SphereGeometry(1, 128, 64), material);
  globe.rotation.y = -Math.PI / 2;
  scene.add(globe);
  const controls = new OrbitControls(camera, canvas);
  controls.enablePan = false;
  controls.minDistance = 1.4;
  controls.maxDistance = 8;
  const draw = () => renderer.render(scene, camera);
  controls.addEventListener('change', draw);
  const dispose = () => {
    controls.dispose();
    material.map?.dispose();
    material.dispose();
    globe.geometry.dispose();
    renderer.dispose();
    // A browser keeps only so many WebGL contexts: give this one back now, not when it is collected.
    renderer.forceContextLoss();
  };
  return { renderer, camera, material, draw, drawn: 0, dispose };
}

// The sphere's preview as the texture of a lit globe, to turn with the mouse (and zoom with the
// wheel). The flat map runs from longitude -180° at its left edge to 180° at its right, latitude 90°
// at its top; three.js wraps a texture the same way round a sphere, seen from outside, so the map is
// not mirrored. Turned a quarter about the pole, longitude 0 faces the viewer first.
export default function Globe({ url, size }) {
  const canvas = useRef(null);
  const world = useRef(null);
  const [failure, setFailure] = useState(null);

  useEffect(() => {
    let renderer;
    try {
      renderer = new THREE.WebGLRenderer({ canvas: canvas.current, antialias: true });
    } catch (error) {
      setFailure(error.message);
      return undefined;
    }
    const made = makeWorld(renderer, canvas.current);
    world.current = made;
    return () => {
      made.dispose();
      world.current = null;
    };
  }, []);

  useEffect(() => {
    const w = world.current;
    if (!w) return;
    w.renderer.setSize(size, size, false);
    w.camera.aspect = 1;
    w.camera.updateProjectionMatrix();
    w.draw();
  }, [size]);

  useEffect(() => {
    const w = world.current;
    if (!w || !url) return undefined;
    let alive = true;
    new THREE.TextureLoader().load(url, (texture) => {
      if (!alive || world.current !== w) return texture.dispose();
      // The picture's bytes are shown as they are, as the flat map shows them: sRGB in, sRGB out.
      texture.colorSpace = THREE.SRGBColorSpace;
      texture.anisotropy = w.renderer.capabilities.getMaxAnisotropy();
      w.material.map?.dispose();
      w.material.map = texture;
      w.material.needsUpdate = true;
      w.draw();
      canvas.current.dataset.drawn = String(++w.drawn);
    });
    return () => {
      alive = false;
    };
  }, [url]);

  if (failure) return <div className="globe-failure">no globe: this browser has no WebGL ({failure})</div>;
  return (
    <canvas
      ref={canvas}
      className="globe"
      data-testid="globe"
      style={{ width: size, height: size }}
      title="Drag to turn the globe, the wheel to come closer"
    />
  );
}
