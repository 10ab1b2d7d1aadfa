import React, { useEffect, useRef, useState } from 'react';
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

// The lit stage drawn by `renderer` on `canvas`: a model, once one is given, under a light from the
// upper left, turned by the mouse about its middle.
function makeStage(renderer, canvas) {
  renderer.outputColorSpace = THREE.SRGBColorSpace;
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x111111);
  const camera = new THREE.PerspectiveCamera(35, 1, 0.01, 1000);
  const sun = new THREE.DirectionalLight(0xffffff, 2.4);
  sun.position.set(-3, 2, 4);
  // The light turns with the camera, so that the side in view is always lit from the upper left.
  camera.add(sun);
  scene.add(camera, new THREE.AmbientLight(0xffffff, 0.8));
  // Both faces: a plane or an open model seen from behind still shows its texture.
  const material = new THREE.MeshStandardMaterial({ roughness: 0.85, metalness: 0, side: THREE.DoubleSide });
  const controls = new OrbitControls(camera, canvas);
  controls.enablePan = false;
  const draw = () => renderer.render(scene, camera);
  controls.addEventListener('change', draw);
  // The pictures drawn, by the material's slot: what the page's tests wait for.
  const stage = { renderer, scene, camera, controls, material, draw, mesh: null, shown: {} };
  stage.dispose = () => {
    controls.dispose();
    material.map?.dispose();
    material.bumpMap?.dispose();
    material.dispose();
    stage.mesh?.geometry.dispose();
    renderer.dispose();
    // A browser keeps only so many WebGL contexts: give this one back now, not when it is collected.
    renderer.forceContextLoss();
  };
  return stage;
}

// The model's geometry in place of the one shown, the camera framing its bounding sphere.
function showModel(stage, geometry) {
  if (stage.mesh) {
    stage.scene.remove(stage.mesh);
    stage.mesh.geometry.dispose();
  }
  stage.mesh = new THREE.Mesh(geometry, stage.material);
  stage.scene.add(stage.mesh);
  geometry.computeBoundingSphere();
  const { center, radius } = geometry.boundingSphere;
  const distance = radius / Math.sin(THREE.MathUtils.degToRad(stage.camera.fov / 2));
  stage.camera.position.copy(center).add(new THREE.Vector3(0.6, 0.5, 1).normalize().multiplyScalar(distance));
  stage.camera.near = distance / 100;
  stage.camera.far = distance * 100;
  stage.camera.updateProjectionMatrix();
  stage.controls.target.copy(center);
  stage.controls.minDistance = radius * 1.05;
  stage.controls.maxDistance = distance * 4;
  stage.controls.update();
}

// A texture of `url` as glTF places it (v down, as the image's rows run), into `slot` of the material.
function loadTexture(stage, url, slot, colorSpace, alive, done) {
  new THREE.TextureLoader().load(url, (texture) => {
    if (!alive()) return texture.dispose();
    texture.flipY = false;
    texture.colorSpace = colorSpace;
    texture.anisotropy = stage.renderer.capabilities.getMaxAnisotropy();
    stage.material[slot]?.dispose();
    stage.material[slot] = texture;
    stage.material.needsUpdate = true;
    stage.shown[slot] = url;
    return done();
  });
}

// A model (a binary glTF file's bytes) with the picture `url` as its texture, lit and turned by the
// mouse, zoomed by the wheel (`glbKey` names the model on the canvas); `reliefUrl`, a picture of real values, raises it where they are high
// (`relief` the height of a value of 1, in the bump map's units), lit from the normals it makes.
export default function ModelView({ glb, glbKey, url, reliefUrl, relief, size }) {
  const canvas = useRef(null);
  const stage = useRef(null);
  const [failure, setFailure] = useState(null);

  useEffect(() => {
    let renderer;
    try {
      renderer = new THREE.WebGLRenderer({ canvas: canvas.current, antialias: true });
    } catch (error) {
      setFailure(error.message);
      return undefined;
    }
    const made = makeStage(renderer, canvas.current);
    stage.current = made;
    return () => {
      made.dispose();
      stage.current = null;
    };
  }, []);

  useEffect(() => {
    const s = stage.current;
    if (!s) return;
    s.renderer.setSize(size, size, false);
    s.camera.aspect = 1;
    s.camera.updateProjectionMatrix();
    s.draw();
  }, [size]);

  // Draws, and says on the canvas which pictures the model is drawn with.
  const drawn = (s) => () => {
    s.draw();
    if (!s.mesh) return;
    canvas.current.dataset.texture = s.shown.map ?? '';
    canvas.current.dataset.relief = s.material.bumpMap ? s.shown.bumpMap : '';
  };

  useEffect(() => {
    const s = stage.current;
    if (!s || !glb) return undefined;
    let alive = true;
    new GLTFLoader().parse(
      glb,
      '',
      (gltf) => {
        if (!alive || stage.current !== s) return;
        let geometry = null;
        gltf.scene.traverse((object) => {
          if (object.isMesh && !geometry) geometry = object.geometry;
        });
        if (!geometry) return setFailure('the model has no mesh');
        showModel(s, geometry);
        canvas.current.dataset.model = glbKey;
        return drawn(s)();
      },
      (error) => setFailure(error.message),
    );
    return () => {
      alive = false;
    };
  }, [glb]);

  useEffect(() => {
    const s = stage.current;
    if (!s || !url) return undefined;
    let alive = true;
    // The picture's bytes are shown as they are, as the flat picture shows them: sRGB in, sRGB out.
    loadTexture(s, url, 'map', THREE.SRGBColorSpace, () => alive && stage.current === s, drawn(s));
    return () => {
      alive = false;
    };
  }, [url]);

  useEffect(() => {
    const s = stage.current;
    if (!s) return undefined;
    let alive = true;
    if (!reliefUrl) {
      s.material.bumpMap?.dispose();
      s.material.bumpMap = null;
      s.material.needsUpdate = true;
      drawn(s)();
    } else {
      // Heights are data, not colours.
      loadTexture(s, reliefUrl, 'bumpMap', THREE.NoColorSpace, () => alive && stage.current === s, drawn(s));
    }
    return () => {
      alive = false;
    };
  }, [reliefUrl]);

  useEffect(() => {
    const s = stage.current;
    if (!s) return;
    s.material.bumpScale = relief;
    s.draw();
  }, [relief]);

  if (failure) return <div className="model-failure">no 3-D view: {failure}</div>;
  return (
    <canvas
      ref={canvas}
      className="model-3d"
      data-testid="model-3d"
      style={{ width: size, height: size }}
      title="Drag to turn the model, the wheel to come closer"
    />
  );
}
